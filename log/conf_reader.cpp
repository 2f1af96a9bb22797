#include "conf_reader.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <unistd.h>

#include <algorithm>

namespace tessra {

namespace {

constexpr int64_t PortLimit = int64_t{1} << 31;

bool IsBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

}  // namespace

void PortScan::Add(const char* text, size_t length)
{
    for (size_t i = 0; i < length && At != Stage::Done; ++i) {
        const char c = text[i];
        if (At == Stage::Blanks && IsBlank(c))
            continue;
        if (At == Stage::Blanks && (c == '+' || c == '-')) {
            Negative = c == '-';
            At = Stage::Digits;
            continue;
        }
        if (c < '0' || c > '9') {
            At = Stage::Done;
            continue;
        }
        At = Stage::Digits;
        Magnitude = std::min(Magnitude * 10 + (c - '0'), PortLimit);
    }
}

int32_t PortScan::Value() const
{
    if (Negative)
        return static_cast<int32_t>(-Magnitude);
    return static_cast<int32_t>(std::min(Magnitude, PortLimit - 1));
}

void ConfLine::Start()
{
    Head.clear();
    Length = 0;
    StartValue();
}

void ConfLine::StartValue()
{
    KeptLength = 0;
    ValueLength = 0;
    ColonAt = std::string_view::npos;
    PortAfterColon = PortScan();
}

void ConfLine::Add(const char* text, size_t length)
{
    Head.append(text, std::min(length, KeyBytes - Head.size()));
    Length += length;
    // Only the text after the last "=" is the value: each "=" starts it anew.
    const char* equals = static_cast<const char*>(memrchr(text, '=', length));
    if (equals != nullptr) {
        StartValue();
        length -= static_cast<size_t>(equals + 1 - text);
        text = equals + 1;
    }
    AddToValue(text, length);
}

void ConfLine::AddToValue(const char* text, size_t length)
{
    const size_t kept = std::min(length, ValueBytes - KeptLength);
    memcpy(Kept + KeptLength, text, kept);
    KeptLength += kept;
    if (ColonAt != std::string_view::npos) {
        PortAfterColon.Add(text, length);
    } else if (const char* colon = static_cast<const char*>(memchr(text, ':', length))) {
        ColonAt = ValueLength + static_cast<size_t>(colon - text);
        PortAfterColon.Add(colon + 1, length - static_cast<size_t>(colon + 1 - text));
    }
    ValueLength += length;
}

ConfReader::ConfReader(const std::string& path) : File(open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC)) {}

bool ConfReader::NextLine(ConfLine& line, bool& whole)
{
    line.Start();
    bool any = false;
    for (;;) {
        if (Next == End && !Fill()) {
            whole = !Cut;
            return any;
        }
        any = true;
        const char* newline = static_cast<const char*>(memchr(Buffer + Next, '\n', End - Next));
        const size_t stop = newline != nullptr ? static_cast<size_t>(newline - Buffer) : End;
        line.Add(Buffer + Next, stop - Next);
        Next = newline != nullptr ? stop + 1 : stop;
        if (newline != nullptr) {
            whole = true;
            return true;
        }
    }
}

bool ConfReader::Fill()
{
    if (Total > MaxConfBytes) {
        Cut = true;
        return false;
    }
    // One byte past the cap tells a file of exactly MaxConfBytes from a longer one.
    const size_t wanted = std::min(sizeof Buffer, MaxConfBytes + 1 - Total);
    ssize_t count;
    do
        count = read(File.Get(), Buffer, wanted);
    while (count < 0 && errno == EINTR);
    if (count <= 0) {
        Cut = count < 0;
        return false;
    }
    Next = 0;
    End = static_cast<size_t>(count);
    Total += End;
    return true;
}

}  // namespace tessra
