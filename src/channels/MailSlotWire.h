#pragma once
// The messenger's wire format: one datagram of UTF-16LE text without BOM or
// terminator, lines each ended by CR LF: "Message", the sender's user name,
// the sender's computer name, then the lines of the text. Pure functions; any
// thread.

#include <QString>
#include <QStringList>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace tv::channels {

constexpr const char* kMessageTag = "Message";
// Largest datagram either side handles; larger ones are dropped.
constexpr std::size_t kMaxMessageBytes = 65'536;

// Lines of a text split at CR, LF and CR LF (a pair counts once); a break at
// the very end adds no empty line, and an empty text has no line.
QStringList splitLines(const QString& text);

// The datagram for a message.
std::vector<std::uint8_t> encodeMessage(const QString& userName, const QString& computer, const QString& text);

struct MailSlotMessage {
    QString Computer;
    QString UserName;
    QString Text; // first line of the text; empty when it had none
};

// The message in a datagram, or nothing when it is not one: odd length,
// larger than kMaxMessageBytes, first line other than "Message", or fewer
// than the three header lines. A zero code unit ends the text.
std::optional<MailSlotMessage> decodeMessage(const std::uint8_t* data, std::size_t size);

} // namespace tv::channels
