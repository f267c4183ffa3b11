#include "common/ProfileSettings.h"

#include "common/NumberText.h"

#include <algorithm>
#include <limits>

namespace tv {

namespace profile {
std::string sourceSection(int k) { return std::string(kSourcePrefix) + integerText(k); }
std::string playerSection(int n) { return std::string(kPlayerPrefix) + integerText(n); }
} // namespace profile

namespace {

std::int32_t clamp32(std::int64_t v)
{
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(
        v, std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max()));
}

} // namespace

TitleStyle TitleStyle::startDefaults()
{
    return {"tahoma", "12", "clwhite", "1", "1", "1", "clblack", "10"};
}

TitleStyle TitleStyle::changeDefaults()
{
    return {"tahoma", "1", "clwhite", "1", "1", "1", "clwhite", "10"};
}

TitleStyle readTitleStyle(const TMemIniFile& ini, const TitleStyle& d)
{
    using profile::kPlayers;
    TitleStyle t;
    t.font = ini.ReadString(kPlayers, "TitleFont", d.font);
    t.size = ini.ReadString(kPlayers, "TitleSize", d.size);
    t.color = ini.ReadString(kPlayers, "TitleColor", d.color);
    t.pos = ini.ReadString(kPlayers, "TitlePos", d.pos);
    t.offset = ini.ReadString(kPlayers, "TitleOffset", d.offset);
    t.transparent = ini.ReadString(kPlayers, "TitleTransparent", d.transparent);
    t.backColor = ini.ReadString(kPlayers, "BackColor", d.backColor);
    t.alpha = ini.ReadString(kPlayers, "Alpha", d.alpha);
    return t;
}

ProfileSource readSource(const TMemIniFile& ini, int k)
{
    const std::string section = profile::sourceSection(k);
    return {ini.ReadString(section, "URL", ""), ini.ReadString(section, "Title", "")};
}

std::int32_t ProfileSettings::cellWidth() const
{
    return columns > 0 ? gridWidth / columns : 0;
}

std::int32_t ProfileSettings::cellHeight() const
{
    return rows > 0 ? gridHeight / rows : 0;
}

PlayerGeometry ProfileSettings::playerGeometry(size_t i) const
{
    PlayerGeometry g;
    if (i >= players.size())
        return g;
    const PlayerCells& c = players[i];
    const std::int64_t cw = cellWidth();
    const std::int64_t ch = cellHeight();
    g.width = clamp32((std::int64_t(c.right) - c.sizeLeft + 1) * cw - 2 * std::int64_t(border));
    g.height = clamp32((std::int64_t(c.bottom) - c.sizeTop + 1) * ch - 2 * std::int64_t(border));
    g.x = clamp32(std::int64_t(c.posLeft) * cw + border);
    g.y = clamp32(std::int64_t(c.posTop) * ch + border);
    return g;
}

ProfileSettings readProfile(const TMemIniFile& ini)
{
    using namespace profile;
    ProfileSettings s;
    s.outputUrl = ini.ReadString(kOutput, "URL", "");
    s.outWidth = ini.ReadInteger(kOutput, "Width", 720);
    s.outHeight = ini.ReadInteger(kOutput, "Height", 576);
    s.gridWidth = ini.ReadInteger(kOutput, "Width", 1);
    s.gridHeight = ini.ReadInteger(kOutput, "Height", 1);
    s.columns = ini.ReadInteger(kOutput, "Columns", 1);
    s.rows = ini.ReadInteger(kOutput, "Rows", 1);
    s.border = ini.ReadInteger(kOutput, "Border", 1);
    s.format = ini.ReadString(kOutput, "Format", "-c:v mpeg2video");
    s.borderColor = ini.ReadString("OutPut", "BorderColor", "clblack");

    s.mainUrl = ini.ReadString(kMain, "URL", "");
    s.mainWidth = ini.ReadInteger(kMain, "Width", 360);
    s.mainHeight = ini.ReadInteger(kMain, "Height", 288);
    s.mainLeft = ini.ReadInteger(kMain, "Left", 100);
    s.mainTop = ini.ReadInteger(kMain, "Top", 100);

    s.playersCount = std::max<std::int32_t>(0, ini.ReadInteger(kPlayers, "Count", 0));
    s.changeMode = ini.ReadInteger(kPlayers, "ChangeMode", 1);
    s.audio = ini.ReadInteger(kPlayers, "Audio", 0);
    s.changeInterval = ini.ReadInteger(kPlayers, "ChangeInterval", 3);
    s.title = readTitleStyle(ini, TitleStyle::startDefaults());

    s.sourcesCount = ini.ReadInteger(kSources, "Count", 1);

    const std::int32_t readable = std::min(s.playersCount, kMaxPlayersCount);
    s.players.resize(static_cast<size_t>(readable));
    for (std::int32_t i = 0; i < readable; ++i) {
        const std::string section = playerSection(i + 1);
        PlayerCells& c = s.players[static_cast<size_t>(i)];
        c.sizeLeft = ini.ReadInteger(section, "Left", 1);
        c.sizeTop = ini.ReadInteger(section, "Top", 1);
        c.right = ini.ReadInteger(section, "Right", 1);
        c.bottom = ini.ReadInteger(section, "Bottom", 1);
        c.posLeft = ini.ReadInteger(section, "Left", 100);
        c.posTop = ini.ReadInteger(section, "Top", 100);
    }
    return s;
}

Status checkRunnable(const ProfileSettings& s)
{
    if (s.columns < 1)
        return fail("The profile's Output Columns must be at least 1, it is " + integerText(s.columns));
    if (s.rows < 1)
        return fail("The profile's Output Rows must be at least 1, it is " + integerText(s.rows));
    if (s.playersCount > profile::kMaxPlayersCount)
        return fail("The profile's Players Count " + integerText(s.playersCount) + " is above the limit of "
                    + integerText(profile::kMaxPlayersCount));
    if (s.sourcesCount < 1)
        return fail("The profile needs at least one source (Sources Count is "
                    + integerText(s.sourcesCount) + ")");
    return {};
}

void writeNewProfile(TMemIniFile& ini)
{
    using namespace profile;
    ini.WriteString(kOutput, "URL", "UDP://127.0.0.1:1234?pkt_size=1316");
    ini.WriteString(kOutput, "Width", "720");
    ini.WriteString(kOutput, "Height", "576");
    ini.WriteString(kOutput, "Columns", "10");
    ini.WriteString(kOutput, "Rows", "10");
    ini.WriteString(kOutput, "Border", "2");
    ini.WriteString(kOutput, "Format", "-vcodec mpeg2video -b:v 3000k -acodec mp2 -f mpegts");
    ini.WriteString(kOutput, "BorderColor", "clWhite");

    ini.WriteString(kMain, "URL", "");
    ini.WriteInteger(kMain, "Width", 100);
    ini.WriteInteger(kMain, "Height", 100);
    ini.WriteString(kMain, "Left", "");
    ini.WriteString(kMain, "Top", "");

    ini.WriteString(kPlayers, "Count", "4");
    ini.WriteInteger(kPlayers, "ChangeMode", 0);
    ini.WriteInteger(kPlayers, "audio", 0);
    ini.WriteString(kPlayers, "ChangeInterval", "30");
    ini.WriteString(kPlayers, "TitleFont", "tahoma");
    ini.WriteInteger(kPlayers, "TitleSize", 1);
    ini.WriteString(kPlayers, "TitleColor", "clRed");
    ini.WriteString(kPlayers, "BackColor", "clWhite");
    ini.WriteInteger(kPlayers, "TitlePos", 1);
    ini.WriteInteger(kPlayers, "TitleOffset", 0);
    ini.WriteBool(kPlayers, "TitleTransparent", true);
    ini.WriteInteger(kPlayers, "Alpha", 10);

    ini.WriteInteger(kSources, "Count", 0);
}

std::string profileFileName(std::string_view currentDir, std::string_view name)
{
    std::string path(currentDir);
    if (!path.empty() && path.back() != '/')
        path += '/';
    path += profile::kProfilesFolder;
    path += name;
    path += profile::kProfileExtension;
    return path;
}

std::string profileName(std::string_view path)
{
    const size_t slash = path.rfind('/');
    std::string_view file = slash == std::string_view::npos ? path : path.substr(slash + 1);
    const size_t dot = file.rfind('.');
    if (dot != std::string_view::npos && dot > 0)
        file = file.substr(0, dot);
    return std::string(file);
}

} // namespace tv
