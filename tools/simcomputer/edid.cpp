// EDID 1.3 base blocks.
#include "simcomputer/simcomputer.h"

#include <cstring>

namespace simcomputer {
namespace {

void text_descriptor(uint8_t *d, uint8_t tag, const std::string &text)
{
    std::memset(d, 0, 18);
    d[3] = tag;
    size_t n = text.size() < 13 ? text.size() : 13;
    std::memcpy(d + 5, text.data(), n);
    if (n < 13) {
        d[5 + n] = 0x0A;
        for (size_t i = n + 1; i < 13; ++i)
            d[5 + i] = 0x20;
    }
}

void dummy_descriptor(uint8_t *d)
{
    std::memset(d, 0, 18);
    d[3] = 0x10;
}

// 1920x1080 at 60 Hz (CEA-861 timing), image size from the screen size.
void preferred_timing(uint8_t *d, unsigned width_mm, unsigned height_mm)
{
    const unsigned clock = 14850; // 10 kHz units
    const unsigned ha = 1920, hb = 280, va = 1080, vb = 45;
    const unsigned hso = 88, hsw = 44, vso = 4, vsw = 5;
    d[0] = uint8_t(clock & 0xFF);
    d[1] = uint8_t(clock >> 8);
    d[2] = uint8_t(ha & 0xFF);
    d[3] = uint8_t(hb & 0xFF);
    d[4] = uint8_t(((ha >> 8) << 4) | (hb >> 8));
    d[5] = uint8_t(va & 0xFF);
    d[6] = uint8_t(vb & 0xFF);
    d[7] = uint8_t(((va >> 8) << 4) | (vb >> 8));
    d[8] = uint8_t(hso & 0xFF);
    d[9] = uint8_t(hsw & 0xFF);
    d[10] = uint8_t(((vso & 0xF) << 4) | (vsw & 0xF));
    d[11] = uint8_t(((hso >> 8) << 6) | ((hsw >> 8) << 4) | ((vso >> 4) << 2) | (vsw >> 4));
    d[12] = uint8_t(width_mm & 0xFF);
    d[13] = uint8_t(height_mm & 0xFF);
    d[14] = uint8_t(((width_mm >> 8) << 4) | (height_mm >> 8));
    d[15] = 0;
    d[16] = 0;
    d[17] = 0x1E; // digital separate sync, both polarities positive
}

void range_limits(uint8_t *d)
{
    static const uint8_t limits[18] = {0x00, 0x00, 0x00, 0xFD, 0x00, 56, 76, 30, 83, 15,
                                       0x00, 0x0A, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20};
    std::memcpy(d, limits, 18);
}

} // namespace

std::array<uint8_t, 128> make_edid(const EdidSpec &spec)
{
    std::array<uint8_t, 128> e{};
    static const uint8_t header[8] = {0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00};
    std::memcpy(e.data(), header, 8);
    uint16_t mfg = 0;
    for (size_t i = 0; i < 3 && i < spec.manufacturer.size(); ++i)
        mfg = uint16_t((mfg << 5) | ((spec.manufacturer[i] - 'A' + 1) & 0x1F));
    e[8] = uint8_t(mfg >> 8);
    e[9] = uint8_t(mfg & 0xFF);
    e[10] = uint8_t(spec.product & 0xFF);
    e[11] = uint8_t(spec.product >> 8);
    for (int i = 0; i < 4; ++i)
        e[12 + i] = uint8_t(spec.serial >> (8 * i));
    e[16] = spec.week;
    e[17] = uint8_t(spec.year - 1990);
    e[18] = 1; // EDID 1.3
    e[19] = 3;
    e[20] = 0x80; // digital input
    e[21] = spec.width_cm;
    e[22] = spec.height_cm;
    e[23] = 120; // gamma 2.2
    e[24] = 0x0E; // RGB colour, sRGB, preferred timing is native
    static const uint8_t srgb[10] = {0xEE, 0x91, 0xA3, 0x54, 0x4C, 0x99, 0x26, 0x0F, 0x50, 0x54};
    std::memcpy(&e[25], srgb, 10);
    e[35] = 0x21; // 640x480@60, 800x600@60
    e[36] = 0x08; // 1024x768@60
    e[37] = 0x00;
    e[38] = 0xD1; // 1920x1080, 16:9, 60 Hz
    e[39] = 0xC0;
    for (int i = 40; i < 54; ++i)
        e[i] = 0x01;

    preferred_timing(&e[54], spec.width_cm * 10u, spec.height_cm * 10u);
    range_limits(&e[72]);
    uint8_t *third = &e[90], *fourth = &e[108];
    if (!spec.name.empty()) {
        text_descriptor(third, 0xFC, spec.name);
        if (!spec.serial_text.empty())
            text_descriptor(fourth, 0xFF, spec.serial_text);
        else
            dummy_descriptor(fourth);
    } else {
        if (!spec.serial_text.empty())
            text_descriptor(third, 0xFF, spec.serial_text);
        else
            dummy_descriptor(third);
        dummy_descriptor(fourth);
    }
    e[126] = 0; // no extensions
    unsigned sum = 0;
    for (int i = 0; i < 127; ++i)
        sum += e[i];
    e[127] = uint8_t((256 - sum % 256) % 256);
    return e;
}

} // namespace simcomputer
