#include "FuzzSupport.h"

#include <cstdio>
#include <cstdlib>

#include "log/Log.h"

namespace fuzz {

void Fail(const char* file, int line, const char* condition, const std::string& detail) {
    std::fprintf(stderr, "\n%s:%d: property broken: %s\n  %s\n", file, line, condition, detail.c_str());
    std::fflush(stderr);
    std::abort();
}

QuietMachine::QuietMachine(plat::Internet* internet) : fp(internet) {
    fp.files.AddDirectory(fake::kTempDir);
    Use();
}

void QuietMachine::Use() {
    fp.InstallAll();
    brut::ResetLogForTests();
    brut::GetLog().Initialise(brut::LOG_OFF, true);  // set up, and nothing passes
}

void QuietMachine::Clean() {
    fp.files = fake::FakeFiles();
    fp.registry = fake::FakeRegistry();
}

bool OneIn(const uint8_t* data, std::size_t size, uint32_t n) {
    uint32_t h = 2166136261u;
    for (std::size_t i = 0; i < size; ++i) h = (h ^ data[i]) * 16777619u;
    return h % n == 0;
}

uint8_t Input::Byte() { return mPos < mSize ? mData[mPos++] : 0; }

uint32_t Input::U32() {
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v |= static_cast<uint32_t>(Byte()) << (8 * i);
    return v;
}

std::string Input::BytesUntil(uint8_t stop) {
    std::string out;
    while (mPos < mSize) {
        const uint8_t b = mData[mPos++];
        if (b == stop) break;
        out += static_cast<char>(b);
    }
    return out;
}

std::u16string Input::UnitsUntil(char16_t stop) {
    std::u16string out;
    while (mPos + 1 < mSize) {
        const char16_t c = static_cast<char16_t>(mData[mPos] | (mData[mPos + 1] << 8));
        mPos += 2;
        if (c == stop) break;
        out += c;
    }
    if (mPos + 1 == mSize) ++mPos;
    return out;
}

std::string Input::RestBytes() {
    std::string out(reinterpret_cast<const char*>(mData + mPos), mSize - mPos);
    mPos = mSize;
    return out;
}

std::u16string Input::RestUnits() {
    std::u16string out;
    for (; mPos + 1 < mSize; mPos += 2) out += static_cast<char16_t>(mData[mPos] | (mData[mPos + 1] << 8));
    mPos = mSize;
    return out;
}

std::string Printable(const std::u16string& text) {
    std::string out;
    char buf[8];
    for (char16_t c : text.substr(0, 200)) {
        if (c >= 0x20 && c < 0x7F && c != u'\\') {
            out += static_cast<char>(c);
        } else {
            std::snprintf(buf, sizeof buf, "\\u%04x", static_cast<unsigned>(c));
            out += buf;
        }
    }
    if (text.size() > 200) out += "...(" + std::to_string(text.size()) + " units)";
    return out;
}

std::string Printable(const std::string& bytes) {
    std::u16string wide;
    for (unsigned char c : bytes) wide += static_cast<char16_t>(c);
    return Printable(wide);
}

}  // namespace fuzz
