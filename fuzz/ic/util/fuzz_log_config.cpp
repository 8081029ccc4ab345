// Log configuration text: the parser must keep the options table sorted,
// bounded and well-formed, and every format it accepts must render within
// the line.
#include <ic/util/log_config.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

void require(bool ok)
{
    if (!ok)
        std::abort();
}

bool valid_name(const char *name)
{
    size_t n = strnlen(name, IC_LOG_NAME_SIZE);
    if (n == 0 || n >= IC_LOG_NAME_SIZE)
        return false;
    for (size_t i = 0; i < n; ++i) {
        char c = name[i];
        bool alpha = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
        bool digit = c >= '0' && c <= '9';
        if (!(alpha || (i > 0 && digit)))
            return false;
    }
    return true;
}

// 2^(L+1) - 1 with bit 31 clear: what a level value gives.
bool level_mask(uint32_t mask)
{
    return mask != 0 && (mask & (mask + 1)) == 0 && !(mask & 0x80000000u);
}

size_t message(char *dst, size_t room, void *)
{
    size_t n = room < 2000 ? room : 2000;
    std::memset(dst, 'm', n);
    return n;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static ic_log_config config;
    ic_log_config_init(&config);
    ic_log_config_parse(&config, reinterpret_cast<const char *>(data), size);

    require(config.option_count <= IC_LOG_MAX_OPTIONS);
    require(level_mask(config.default_mask));
    for (uint32_t i = 0; i < config.option_count; ++i) {
        require(valid_name(config.options[i].name));
        if (i > 0)
            require(std::strcmp(config.options[i - 1].name, config.options[i].name) < 0);
        require(ic_log_config_find(&config, config.options[i].name) == &config.options[i]);
        require(level_mask(config.options[i].mask));
    }

    // Literal codes point at terminated pieces inside the area.
    for (uint32_t i = 0; i < IC_LOG_MAX_CODES && config.format.codes[i]; ++i) {
        uint16_t code = config.format.codes[i];
        if ((code & 63) == 63) {
            size_t offset = code >> 6;
            require(offset < IC_LOG_LITERAL_SIZE);
            require(std::memchr(config.format.literals + offset, '\0', IC_LOG_LITERAL_SIZE - offset));
        } else {
            require(code >= IC_LOG_CODE_TIMESTAMP && code <= IC_LOG_CODE_MESSAGE);
        }
    }

    ic_log_site site{"hw", 7, "info.c", "hw_info_get_current", 25};
    timeval tv{};
    char line[IC_LOG_LINE_SIZE];
    size_t n = ic_log_render(&config.format, &site, &tv, message, nullptr, line);
    require(n <= IC_LOG_LINE_SIZE);

    // The same text as a format of its own.
    ic_log_format format = config.format;
    if (ic_log_format_compile(&format, reinterpret_cast<const char *>(data), size) == 0)
        require(ic_log_render(&format, &site, &tv, message, nullptr, line) <= IC_LOG_LINE_SIZE);
    return 0;
}
