// Byte forms of the integrity-data blocks, without the module: zlib, the
// headers and the two framed parts of the compressed blocks, and the Qt
// data-stream first parts. Header integers are u32 little-endian.
//
// Uncompressed block (hardware, disks): 15360, L, then L payload bytes.
// Compressed block (registry, files): Z, U, then Z bytes of zlib data that
// inflate to U bytes: S + 8, S, S bytes of the first part (a Qt 4.8 data
// stream), R + 8, R, R bytes of the core record's image.
#ifndef IC_QT_IC_DATA_BLOCK_H
#define IC_QT_IC_DATA_BLOCK_H

#include "ic/qt/exchange_dir.h"
#include "ic/qt/fs_vmdk_image.h"

#include <QByteArray>
#include <QList>

#include <cstdint>

namespace ic_block {

constexpr uint32_t kHeaderSize = 8;
constexpr uint32_t kSmallBlockSize = 15360;
constexpr uint32_t kMaxSmallPayload = kSmallBlockSize - kHeaderSize;
// No deflate stream inflates to more than 1032 times its length.
constexpr uint64_t kMaxInflateRatio = 1032;
// Both framed parts' headers.
constexpr uint32_t kMinContent = 16;

// L of an uncompressed block's header, or 0 when the header does not fit a
// block (size field not 15360, L of 0 or beyond 15352).
uint32_t small_payload_length(const uint8_t header[kHeaderSize]);

// Z of a compressed block's header, or 0 when it does not fit a block of
// block_size bytes (Z of 0, Z + 8 beyond the block) or U cannot be what Z
// bytes inflate to (below 16, beyond 1032 * Z).
uint32_t compressed_length(const uint8_t header[kHeaderSize], uint32_t block_size);

// The payload of a whole block image (header included) of the kind: true
// when its header fits and the image is exactly header and data long; for
// a compressed block the data must also inflate and split into two parts.
bool small_block_valid(const uint8_t *image, uint32_t size);
bool compressed_block_valid(const uint8_t *image, uint32_t size, uint32_t block_size);

} // namespace ic_block

// zlib level 9 of in; out gets the stream, which may be longer than in
// for data that does not shrink. 0, or -1 when zlib fails.
int compress_ic(QByteArray *out, const QByteArray &in);
// Inflates in into exactly out_size bytes. -1 when the stream is damaged,
// ends early, or gives another length.
int uncompress_ic(QByteArray *out, uint32_t out_size, const uint8_t *in, uint32_t in_size);

namespace ic_block {

// A compressed block image (header included) of the two parts; empty when
// the parts are too long for u32 lengths or zlib fails.
QByteArray encode_compressed(const QByteArray &first, const QByteArray &second);
// The two parts of a compressed block image (header included); false when
// its header does not fit a block of block_size bytes, the data does not
// inflate to U bytes, or the frames do not fill U exactly.
bool decode_compressed(const uint8_t *image, uint32_t size, uint32_t block_size, QByteArray *first,
                       QByteArray *second);
// The two framed parts of inflated content.
bool split_parts(const QByteArray &content, QByteArray *first, QByteArray *second);

// First part of the files block: the image list. read_image_list is false
// unless the part holds exactly a count and that many images.
QByteArray write_image_list(const QList<fs_vmdk_image> &images);
bool read_image_list(const QByteArray &part, QList<fs_vmdk_image> *images);

// First part of the registry block: four strings, the directory's disk,
// volume identity and path, and the flag as "0" or "1". The flag reads true
// when the fourth string is a non-zero number. The volume is left alone.
QByteArray write_reg_strings(const exchange_dir &dir, bool flag);
bool read_reg_strings(const QByteArray &part, exchange_dir *dir, bool *flag);

} // namespace ic_block

#endif
