// Byte forms of the integrity-data blocks.
#include "ic/qt/ic_data_block.h"

#include <ic/util/le.h>

#include <QDataStream>
#include <QIODevice>

#include <zlib.h>

#include <limits>

namespace {

constexpr uint64_t kU32Max = std::numeric_limits<uint32_t>::max();

void append_le32(QByteArray &out, uint64_t value)
{
    uint8_t bytes[4];
    ic_store_le(bytes, value, 4);
    out.append(reinterpret_cast<const char *>(bytes), 4);
}

uint32_t le32_at(const QByteArray &bytes, qsizetype at)
{
    return ic_le32(reinterpret_cast<const uint8_t *>(bytes.constData()) + at);
}

// One framed part at `at`: u32 N + 8, u32 N, N bytes. The part's length, or
// -1 when the frame is inconsistent or runs past the end.
int64_t frame_at(const QByteArray &content, uint64_t at)
{
    if (at + 8 > uint64_t(content.size()))
        return -1;
    const uint64_t framed = le32_at(content, qsizetype(at));
    const uint64_t length = le32_at(content, qsizetype(at + 4));
    if (framed != length + 8 || at + 8 + length > uint64_t(content.size()))
        return -1;
    return int64_t(length);
}

} // namespace

int compress_ic(QByteArray *out, const QByteArray &in)
{
    if (!out || uint64_t(in.size()) > kU32Max)
        return -1;
    uLongf length = compressBound(uLong(in.size()));
    QByteArray buffer(qsizetype(length), Qt::Uninitialized);
    if (compress2(reinterpret_cast<Bytef *>(buffer.data()), &length,
                  reinterpret_cast<const Bytef *>(in.constData()), uLong(in.size()), 9) != Z_OK)
        return -1;
    buffer.truncate(qsizetype(length));
    *out = buffer;
    return 0;
}

int uncompress_ic(QByteArray *out, uint32_t out_size, const uint8_t *in, uint32_t in_size)
{
    if (!out || !in || !in_size)
        return -1;
    QByteArray buffer(qsizetype(out_size), Qt::Uninitialized);
    uLongf length = out_size;
    uLong consumed = in_size;
    // The stream must fill out_size bytes exactly and use all of in.
    if (uncompress2(reinterpret_cast<Bytef *>(buffer.data()), &length, in, &consumed) != Z_OK
        || length != out_size || consumed != in_size)
        return -1;
    *out = buffer;
    return 0;
}

namespace ic_block {

uint32_t small_payload_length(const uint8_t header[kHeaderSize])
{
    const uint32_t length = ic_le32(header + 4);
    if (ic_le32(header) != kSmallBlockSize || length == 0 || length > kMaxSmallPayload)
        return 0;
    return length;
}

uint32_t compressed_length(const uint8_t header[kHeaderSize], uint32_t block_size)
{
    const uint64_t z = ic_le32(header);
    const uint64_t u = ic_le32(header + 4);
    if (z == 0 || z + kHeaderSize > block_size || u < kMinContent || u > z * kMaxInflateRatio)
        return 0;
    return uint32_t(z);
}

bool small_block_valid(const uint8_t *image, uint32_t size)
{
    if (!image || size < kHeaderSize)
        return false;
    const uint32_t length = small_payload_length(image);
    return length && size == kHeaderSize + length;
}

bool compressed_block_valid(const uint8_t *image, uint32_t size, uint32_t block_size)
{
    if (!image || size < kHeaderSize || size != uint64_t(compressed_length(image, block_size)) + kHeaderSize)
        return false;
    QByteArray first, second;
    return decode_compressed(image, size, block_size, &first, &second);
}

QByteArray encode_compressed(const QByteArray &first, const QByteArray &second)
{
    const uint64_t content_size = uint64_t(first.size()) + uint64_t(second.size()) + kMinContent;
    if (content_size > kU32Max)
        return QByteArray();
    QByteArray content;
    content.reserve(qsizetype(content_size));
    append_le32(content, uint64_t(first.size()) + 8);
    append_le32(content, uint64_t(first.size()));
    content.append(first);
    append_le32(content, uint64_t(second.size()) + 8);
    append_le32(content, uint64_t(second.size()));
    content.append(second);
    QByteArray packed;
    if (compress_ic(&packed, content) != 0 || uint64_t(packed.size()) + kHeaderSize > kU32Max)
        return QByteArray();
    QByteArray block;
    block.reserve(packed.size() + kHeaderSize);
    append_le32(block, uint64_t(packed.size()));
    append_le32(block, content_size);
    block.append(packed);
    return block;
}

bool decode_compressed(const uint8_t *image, uint32_t size, uint32_t block_size, QByteArray *first,
                       QByteArray *second)
{
    if (!image || size < kHeaderSize)
        return false;
    const uint32_t z = compressed_length(image, block_size);
    if (!z || uint64_t(size) < uint64_t(z) + kHeaderSize)
        return false;
    QByteArray content;
    if (uncompress_ic(&content, ic_le32(image + 4), image + kHeaderSize, z) != 0)
        return false;
    return split_parts(content, first, second);
}

bool split_parts(const QByteArray &content, QByteArray *first, QByteArray *second)
{
    const int64_t s = frame_at(content, 0);
    if (s < 0)
        return false;
    const int64_t r = frame_at(content, uint64_t(s) + 8);
    if (r < 0 || uint64_t(s) + uint64_t(r) + kMinContent != uint64_t(content.size()))
        return false;
    if (first)
        *first = content.mid(8, qsizetype(s));
    if (second)
        *second = content.mid(qsizetype(s) + 16, qsizetype(r));
    return true;
}

namespace {

QDataStream &versioned(QDataStream &stream)
{
    stream.setVersion(QDataStream::Qt_4_8);
    return stream;
}

} // namespace

QByteArray write_image_list(const QList<fs_vmdk_image> &images)
{
    QByteArray part;
    QDataStream out(&part, QIODevice::WriteOnly);
    versioned(out) << qint32(images.size());
    for (const fs_vmdk_image &image : images)
        out << image;
    return part;
}

bool read_image_list(const QByteArray &part, QList<fs_vmdk_image> *images)
{
    QDataStream in(part);
    qint32 count = 0;
    versioned(in) >> count;
    if (in.status() != QDataStream::Ok || count < 0)
        return false;
    // No room is reserved ahead: a count the bytes cannot back ends at the
    // first image that runs past them.
    QList<fs_vmdk_image> list;
    for (qint32 i = 0; i < count; ++i) {
        fs_vmdk_image image;
        in >> image;
        if (in.status() != QDataStream::Ok)
            return false;
        list.append(image);
    }
    if (!in.atEnd())
        return false;
    if (images)
        *images = list;
    return true;
}

QByteArray write_reg_strings(const exchange_dir &dir, bool flag)
{
    QByteArray part;
    QDataStream out(&part, QIODevice::WriteOnly);
    versioned(out) << quint32(4) << dir.disk << dir.part_id << dir.path
                   << QString::fromLatin1(flag ? "1" : "0");
    return part;
}

bool read_reg_strings(const QByteArray &part, exchange_dir *dir, bool *flag)
{
    QDataStream in(part);
    quint32 count = 0;
    QString strings[4];
    versioned(in) >> count;
    if (count != 4)
        return false;
    for (QString &s : strings)
        in >> s;
    if (in.status() != QDataStream::Ok || !in.atEnd())
        return false;
    if (dir) {
        dir->disk = strings[0];
        dir->part_id = strings[1];
        dir->path = strings[2];
    }
    if (flag) {
        bool number = false;
        const long long value = strings[3].toLongLong(&number);
        *flag = number && value != 0;
    }
    return true;
}

} // namespace ic_block
