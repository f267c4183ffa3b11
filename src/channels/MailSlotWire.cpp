#include "channels/MailSlotWire.h"

namespace tv::channels {

QStringList splitLines(const QString& text)
{
    QStringList lines;
    qsizetype start = 0;
    const qsizetype n = text.size();
    qsizetype i = 0;
    while (i < n) {
        const QChar c = text.at(i);
        if (c == u'\r' || c == u'\n') {
            lines.append(text.mid(start, i - start));
            if (c == u'\r' && i + 1 < n && text.at(i + 1) == u'\n')
                ++i;
            start = i + 1;
        }
        ++i;
    }
    if (start < n)
        lines.append(text.mid(start));
    return lines;
}

std::vector<std::uint8_t> encodeMessage(const QString& userName, const QString& computer, const QString& text)
{
    QStringList lines = splitLines(text);
    lines.prepend(computer);
    lines.prepend(userName);
    lines.prepend(QString::fromLatin1(kMessageTag));
    QString all;
    for (const QString& l : lines) {
        all += l;
        all += QStringLiteral("\r\n");
    }
    std::vector<std::uint8_t> bytes;
    bytes.reserve(static_cast<std::size_t>(all.size()) * 2);
    for (QChar c : all) {
        const char16_t u = c.unicode();
        bytes.push_back(static_cast<std::uint8_t>(u & 0xFF));
        bytes.push_back(static_cast<std::uint8_t>(u >> 8));
    }
    return bytes;
}

std::optional<MailSlotMessage> decodeMessage(const std::uint8_t* data, std::size_t size)
{
    if (size % 2 != 0 || size > kMaxMessageBytes)
        return std::nullopt;
    QString text;
    text.reserve(static_cast<qsizetype>(size / 2));
    for (std::size_t i = 0; i + 1 < size; i += 2) {
        const char16_t u = static_cast<char16_t>(data[i] | (data[i + 1] << 8));
        if (u == 0)
            break;
        text.append(QChar(u));
    }
    const QStringList lines = splitLines(text);
    if (lines.size() < 3 || lines.at(0) != QLatin1String(kMessageTag))
        return std::nullopt;
    MailSlotMessage m;
    m.UserName = lines.at(1);
    m.Computer = lines.at(2);
    if (lines.size() > 3)
        m.Text = lines.at(3);
    return m;
}

} // namespace tv::channels
