#include "common/FormPlacement.h"

namespace tv {
namespace {

std::string valueName(std::string_view window, std::string_view suffix)
{
    return std::string(window) + std::string(suffix);
}

// One edge: the stored value or the centre, not negative, and pulled back
// when it lies beyond the screen.
std::int32_t placeEdge(std::int32_t stored, std::int32_t screen, std::int32_t size)
{
    std::int32_t edge = stored < 0 ? 0 : stored;
    if (edge > screen)
        edge = screen - size;
    return edge;
}

} // namespace

RestoredPlacement LoadFormPlacement(const PlacementReader& read, std::string_view name, int tag,
                                    const FormPlacement& current, ScreenSize screen)
{
    RestoredPlacement r{current.left, current.top, current.width, current.height, std::nullopt};
    if (tag == kRestoreSizeTag) {
        r.width = read(valueName(name, ".Width"), current.width);
        r.height = read(valueName(name, ".Height"), current.height);
    }
    r.top = placeEdge(read(valueName(name, ".Top"), (screen.height - r.height) / 2),
                      screen.height, r.height);
    r.left = placeEdge(read(valueName(name, ".Left"), (screen.width - r.width) / 2),
                       screen.width, r.width);
    switch (read(valueName(name, ".WindowState"), 0)) {
    case static_cast<std::int32_t>(WindowState::Normal):
        r.state = WindowState::Normal;
        break;
    case static_cast<std::int32_t>(WindowState::Maximized):
        r.state = WindowState::Maximized;
        break;
    default:
        break;
    }
    return r;
}

RestoredPlacement LoadFormPlacement(const InstanceKey& key, std::string_view name, int tag,
                                    const FormPlacement& current, ScreenSize screen)
{
    return LoadFormPlacement(
        [&key](const std::string& value, std::int32_t def) { return key.ReadInteger(value, def); },
        name, tag, current, screen);
}

std::vector<std::pair<std::string, std::int32_t>> formPlacementValues(std::string_view name,
                                                                       const FormPlacement& c)
{
    std::vector<std::pair<std::string, std::int32_t>> values;
    if (c.state == WindowState::Normal) {
        values.emplace_back(valueName(name, ".Width"), c.width);
        values.emplace_back(valueName(name, ".Height"), c.height);
        values.emplace_back(valueName(name, ".Top"), c.top);
        values.emplace_back(valueName(name, ".Left"), c.left);
    }
    values.emplace_back(valueName(name, ".WindowState"), static_cast<std::int32_t>(c.state));
    return values;
}

Status SaveFormPlacement(InstanceKey& key, std::string_view name, const FormPlacement& current)
{
    return key.WriteIntegers(formPlacementValues(name, current));
}

} // namespace tv
