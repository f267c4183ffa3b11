#pragma once
// The placement arithmetic of a window (size, position, state) stored in the
// instance key, without any widget: the caller passes the window's current
// geometry and the primary screen's size and applies what comes back. GUI
// thread, like the instance key.

#include "common/InstanceKey.h"
#include "common/Result.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tv {

// Windows with this tag store and restore their size too.
inline constexpr int kRestoreSizeTag = 15;

enum class WindowState : std::int32_t { Normal = 0, Minimized = 1, Maximized = 2 };

struct FormPlacement {
    std::int32_t left = 0;
    std::int32_t top = 0;
    std::int32_t width = 0;   // outer size
    std::int32_t height = 0;
    WindowState state = WindowState::Normal;
};

struct ScreenSize {
    std::int32_t width = 0;
    std::int32_t height = 0;
};

// What LoadFormPlacement asks the window to become. state: nothing leaves
// the window's state as it is.
struct RestoredPlacement {
    std::int32_t left = 0;
    std::int32_t top = 0;
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::optional<WindowState> state;
};

// Reads one integer value of the key, or def.
using PlacementReader = std::function<std::int32_t(const std::string& valueName, std::int32_t def)>;

// Size (tag 15 only) from ".Width"/".Height"; top and left from ".Top" and
// ".Left", by default centred on the primary screen, negative made 0, and
// beyond the screen's far edge pulled back by the window's size; state from
// ".WindowState": 0 normal, 2 maximised, anything else unchanged.
RestoredPlacement LoadFormPlacement(const PlacementReader& read, std::string_view windowName,
                                    int tag, const FormPlacement& current, ScreenSize screen);
RestoredPlacement LoadFormPlacement(const InstanceKey& key, std::string_view windowName,
                                    int tag, const FormPlacement& current, ScreenSize screen);

// The values SaveFormPlacement writes, in order: size and position only in
// the normal state, the state always.
std::vector<std::pair<std::string, std::int32_t>> formPlacementValues(std::string_view windowName,
                                                                       const FormPlacement& current);
Status SaveFormPlacement(InstanceKey& key, std::string_view windowName, const FormPlacement& current);

} // namespace tv
