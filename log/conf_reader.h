#ifndef TESSRA_LOG_CONF_READER_H
#define TESSRA_LOG_CONF_READER_H

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <string_view>

#include "whole_file.h"

// How the configuration file is read: line by line, each line kept in
// bounded memory whatever its length. Internal to the library; not installed.
namespace tessra {

// strtol in base 10 over text that arrives in pieces: blanks, a sign, then
// digits up to the first other character; saturated to 32 bits as on the
// unit, whose long is 32 bits.
class PortScan {
public:
    void Add(const char* text, size_t length);
    int32_t Value() const;

private:
    enum class Stage { Blanks, Digits, Done };
    Stage At = Stage::Blanks;
    bool Negative = false;
    int64_t Magnitude = 0;
};

// What the rules read of one line: its beginning, for the key, and of its
// value, the text after its last "=" (the whole line without one): the
// beginning, and the port after the value's first ":", converted as it
// streams by. A value longer than any word keeps its first ValueBytes.
class ConfLine {
public:
    static constexpr size_t ValueBytes = 8192;

    explicit ConfLine(size_t keyBytes) : KeyBytes(keyBytes) {}

    void Start();
    void Add(const char* text, size_t length);

    bool IsEmpty() const { return Length == 0; }
    bool StartsWith(std::string_view prefix) const { return std::string_view(Head).substr(0, prefix.size()) == prefix; }
    std::string_view Value() const { return std::string_view(Kept, KeptLength); }
    // The value before its first ":" and the port after it (0 without one).
    std::string_view Address() const { return Value().substr(0, ColonAt); }
    int32_t Port() const { return ColonAt == std::string_view::npos ? 0 : PortAfterColon.Value(); }

private:
    void StartValue();
    void AddToValue(const char* text, size_t length);

    const size_t KeyBytes;
    std::string Head;
    size_t Length = 0;
    char Kept[ValueBytes];
    size_t KeptLength = 0;
    size_t ValueLength = 0;
    size_t ColonAt = std::string_view::npos;
    PortScan PortAfterColon;
};

// The file, opened non-blocking so that a FIFO at the path cannot hold the
// reader, and read up to MaxConfBytes so that a device or an endless file
// there cannot hold it either.
class ConfReader {
public:
    explicit ConfReader(const std::string& path);

    bool IsOpen() const { return File.IsOpen(); }
    // The next line, as getline finds it: up to "\n", the last one without.
    // False when none is left. whole is false for a line that the read cap
    // or a read error cut: what it would have set is unknown.
    bool NextLine(ConfLine& line, bool& whole);

private:
    static constexpr size_t MaxConfBytes = 16 << 20;

    bool Fill();

    const Descriptor File;
    char Buffer[4096];
    size_t Next = 0;
    size_t End = 0;
    size_t Total = 0;
    bool Cut = false;
};

}  // namespace tessra

#endif
