#include "engine/split/H264Timing.h"

#include <vector>

namespace tavrolin {

namespace {

struct Overrun {};

// Bits of an H.264 parameter set, emulation prevention bytes taken out.
class Bits {
  public:
    explicit Bits(std::string_view nal) {
        for (std::size_t i = 0; i < nal.size(); ++i) {
            if (i >= 2 && nal[i] == 3 && nal[i - 1] == 0 && nal[i - 2] == 0) {
                continue;
            }
            bytes_.push_back(static_cast<std::uint8_t>(nal[i]));
        }
    }
    std::uint32_t bits(int count) {
        std::uint32_t value = 0;
        for (int i = 0; i < count; ++i) {
            if (at_ >= bytes_.size() * 8) {
                throw Overrun{};
            }
            value = value << 1 | (bytes_[at_ / 8] >> (7 - at_ % 8) & 1);
            ++at_;
        }
        return value;
    }
    std::uint32_t ue() {
        int zeros = 0;
        while (bits(1) == 0) {
            if (++zeros >= 32) {
                throw Overrun{};
            }
        }
        return ((1U << zeros) - 1) + bits(zeros);
    }
    void se() { ue(); }

  private:
    std::vector<std::uint8_t> bytes_;
    std::size_t at_ = 0;
};

void skipScalingLists(Bits& bits, int count) {
    for (int list = 0; list < count; ++list) {
        if (bits.bits(1) == 0) {
            continue;
        }
        int last = 8;
        int next = 8;
        for (int j = 0; j < (list < 6 ? 16 : 64) && next != 0; ++j) {
            const auto code = bits.ue();
            const int delta =
                code % 2 ? static_cast<int>(code / 2 + 1) : -static_cast<int>(code / 2);
            next = (last + delta + 256) % 256;
            last = next == 0 ? last : next;
        }
    }
}

bool hasChromaFormat(std::uint32_t profile) {
    constexpr std::uint32_t profiles[] = {100, 110, 122, 244, 44,  83, 86,
                                          118, 128, 138, 139, 134, 135};
    for (const auto high : profiles) {
        if (profile == high) {
            return true;
        }
    }
    return false;
}

// Past the sequence fields up to the VUI's presence flag; whether fields may be coded.
bool skipSequence(Bits& bits) {
    bits.bits(8);  // NAL header
    const auto profile = bits.bits(8);
    bits.bits(16);
    bits.ue();
    if (hasChromaFormat(profile)) {
        const auto chroma = bits.ue();
        if (chroma == 3) {
            bits.bits(1);
        }
        bits.ue();
        bits.ue();
        bits.bits(1);
        if (bits.bits(1) != 0) {
            skipScalingLists(bits, chroma == 3 ? 12 : 8);
        }
    }
    bits.ue();
    const auto order = bits.ue();
    if (order == 0) {
        bits.ue();
    } else if (order == 1) {
        bits.bits(1);
        bits.se();
        bits.se();
        for (auto cycle = bits.ue(); cycle > 0; --cycle) {
            bits.se();
        }
    }
    bits.ue();
    bits.bits(1);
    bits.ue();
    bits.ue();
    const bool framesOnly = bits.bits(1) == 1;
    if (!framesOnly) {
        bits.bits(1);
    }
    bits.bits(1);
    if (bits.bits(1) != 0) {
        bits.ue(), bits.ue(), bits.ue(), bits.ue();
    }
    return framesOnly;
}

}  // namespace

std::optional<H264Timing> h264Timing(std::string_view nal) {
    try {
        Bits bits(nal);
        H264Timing timing;
        timing.framesOnly = skipSequence(bits);
        if (bits.bits(1) == 0) {
            return std::nullopt;  // no VUI
        }
        if (bits.bits(1) != 0 && bits.bits(8) == 255) {
            bits.bits(32);  // sample aspect ratio
        }
        if (bits.bits(1) != 0) {
            bits.bits(1);  // overscan
        }
        if (bits.bits(1) != 0) {
            bits.bits(4);  // video format, range
            if (bits.bits(1) != 0) {
                bits.bits(24);  // colour description
            }
        }
        if (bits.bits(1) != 0) {
            bits.ue(), bits.ue();  // chroma location
        }
        if (bits.bits(1) == 0) {
            return std::nullopt;
        }
        timing.unitsInTick = bits.bits(32);
        timing.timeScale = bits.bits(32);
        if (timing.unitsInTick == 0 || timing.timeScale == 0) {
            return std::nullopt;
        }
        return timing;
    } catch (const Overrun&) {
        return std::nullopt;
    }
}

}  // namespace tavrolin
