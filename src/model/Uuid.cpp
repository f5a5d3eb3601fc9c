#include "model/Uuid.h"

#include <sys/random.h>

#include <cerrno>
#include <random>

namespace tavrolin {

Uuid Uuid::random() {
    // 122 random bits straight from the kernel: a generator seeded with one 32-bit value would
    // repeat UUIDs across threads and processes after a few tens of thousands of seeds.
    Uuid uuid;
    std::size_t filled = 0;
    while (filled < uuid.bytes_.size()) {
        const ssize_t got =
            ::getrandom(uuid.bytes_.data() + filled, uuid.bytes_.size() - filled, 0);
        if (got > 0) {
            filled += static_cast<std::size_t>(got);
        } else if (got < 0 && errno != EINTR) {
            std::random_device device;
            for (auto& byte : uuid.bytes_) {
                byte = static_cast<std::uint8_t>(device());
            }
            filled = uuid.bytes_.size();
        }
    }
    uuid.bytes_[6] = static_cast<std::uint8_t>((uuid.bytes_[6] & 0x0F) | 0x40);
    uuid.bytes_[8] = static_cast<std::uint8_t>((uuid.bytes_[8] & 0x3F) | 0x80);
    return uuid;
}

std::optional<Uuid> Uuid::fromString(std::string_view text) {
    if (text.size() != 36) {
        return std::nullopt;
    }
    Uuid uuid;
    std::size_t byte = 0;
    for (std::size_t i = 0; i < text.size();) {
        if (i == 8 || i == 13 || i == 18 || i == 23) {
            if (text[i] != '-') {
                return std::nullopt;
            }
            ++i;
            continue;
        }
        auto nibble = [](char c) -> int {
            if (c >= '0' && c <= '9')
                return c - '0';
            if (c >= 'a' && c <= 'f')
                return c - 'a' + 10;
            if (c >= 'A' && c <= 'F')
                return c - 'A' + 10;
            return -1;
        };
        const int high = nibble(text[i]);
        const int low = nibble(text[i + 1]);
        if (high < 0 || low < 0) {
            return std::nullopt;
        }
        uuid.bytes_[byte++] = static_cast<std::uint8_t>(high * 16 + low);
        i += 2;
    }
    return uuid;
}

std::string Uuid::toString() const {
    static constexpr char digits[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(36);
    for (std::size_t i = 0; i < bytes_.size(); ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10) {
            text.push_back('-');
        }
        text.push_back(digits[bytes_[i] >> 4]);
        text.push_back(digits[bytes_[i] & 0x0F]);
    }
    return text;
}

std::optional<std::string_view> textAfterPrefixedUuid(std::string_view name,
                                                      std::string_view prefix) {
    constexpr std::size_t uuidLength = 36;
    if (!name.starts_with(prefix) || name.size() < prefix.size() + uuidLength) {
        return std::nullopt;
    }
    const std::string_view uuid = name.substr(prefix.size(), uuidLength);
    const auto parsed = Uuid::fromString(uuid);
    if (!parsed || parsed->toString() != uuid) {
        return std::nullopt;
    }
    return name.substr(prefix.size() + uuidLength);
}

}  // namespace tavrolin

std::size_t std::hash<tavrolin::Uuid>::operator()(const tavrolin::Uuid& uuid) const noexcept {
    std::size_t value = 0;
    for (auto byte : uuid.bytes()) {
        value = value * 131 + byte;
    }
    return value;
}
