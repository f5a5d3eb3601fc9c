#pragma once

#include <array>
#include <compare>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace tavrolin {

// A random (version 4) UUID. Its text is the standard 36-character upper-case form.
class Uuid {
  public:
    Uuid() = default;  // the nil UUID
    static Uuid random();
    static std::optional<Uuid> fromString(std::string_view text);

    std::string toString() const;
    const std::array<std::uint8_t, 16>& bytes() const { return bytes_; }

    friend auto operator<=>(const Uuid&, const Uuid&) = default;
    friend bool operator==(const Uuid&, const Uuid&) = default;

  private:
    std::array<std::uint8_t, 16> bytes_{};
};

// For names this program makes from a fixed prefix and a fresh UUID (working files, probes):
// what follows the prefix and the UUID, in its upper-case text form, or none when `name` is
// not such a name.
std::optional<std::string_view> textAfterPrefixedUuid(std::string_view name,
                                                      std::string_view prefix);

}  // namespace tavrolin

template <>
struct std::hash<tavrolin::Uuid> {
    std::size_t operator()(const tavrolin::Uuid& uuid) const noexcept;
};
