#pragma once
// What the fuzz targets share: reading typed pieces from the fuzz input, a fresh fake
// machine per input, and property checks that stop the run with the failing input kept.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fakes/FakePlatform.h"
#include "fakes/TestSupport.h"

namespace fuzz {

// Reports a broken property and aborts: libFuzzer keeps the input as a crash file.
[[noreturn]] void Fail(const char* file, int line, const char* condition, const std::string& detail);

#define FUZZ_CHECK(condition, detail) \
    do { \
        if (!(condition)) ::fuzz::Fail(__FILE__, __LINE__, #condition, (detail)); \
    } while (0)

// Consumes the fuzz input front to back; once it is used up every read gives zeros or
// empty texts, so any input is a valid one.
class Input {
public:
    Input(const uint8_t* data, std::size_t size) : mData(data), mSize(size) {}
    uint8_t Byte();
    uint32_t U32();
    bool Flag() { return Byte() & 1; }
    // Bytes up to the next `stop` byte (consumed, not returned) or the end.
    std::string BytesUntil(uint8_t stop);
    // UTF-16 little-endian code units up to the code unit `stop` (consumed) or the end.
    std::u16string UnitsUntil(char16_t stop);
    std::string RestBytes();
    std::u16string RestUnits();  // an odd last byte is dropped
    std::size_t Left() const { return mSize - mPos; }

private:
    const uint8_t* mData;
    std::size_t mSize;
    std::size_t mPos = 0;
};

// A fresh fake machine with the log set up, for one input. The log goes to the fake
// files, which vanish with the machine: memory stays flat over millions of inputs.
struct Machine {
    Machine() : log(fp) {}
    explicit Machine(plat::Internet* internet) : fp(internet), log(fp) {}
    fake::FakePlatform fp;
    fake::FreshLog log;
};

// One machine for every input, its log set up but switched off: for targets whose
// inputs leave no state behind on it. Installed (again) by Use().
struct QuietMachine {
    explicit QuietMachine(plat::Internet* internet = nullptr);
    void Use();
    // Empty files and registry (the log is off and keeps no file): what an input left
    // behind is freed by the input itself, which keeps libFuzzer's leak check quiet.
    void Clean();
    fake::FakePlatform fp;
};

// True for a fixed one in `n` of all inputs, chosen by a hash of the whole input: the
// mutator cannot steer towards it, so costly variants stay as rare as intended.
bool OneIn(const uint8_t* data, std::size_t size, uint32_t n);

std::string Printable(const std::u16string& text);  // for failure details
std::string Printable(const std::string& bytes);

}  // namespace fuzz
