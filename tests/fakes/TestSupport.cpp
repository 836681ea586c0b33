#include "fakes/TestSupport.h"

#include <algorithm>
#include <utility>

#include "util/Text.h"

namespace fake {

std::u16string LogText(const FakePlatform& fp) {
    std::u16string all;
    for (const auto& f : fp.files.FilesIn(kTempDir)) all += brut::FromLatin1(fp.files.Contents(f));
    return all;
}

bool LogTextHasLine(const FakePlatform& fp, const std::u16string& levelAndText) {
    return LogText(fp).find(levelAndText + u"\r\n") != std::u16string::npos;
}

bool LogTextHas(const FakePlatform& fp, const std::u16string& text) {
    return LogText(fp).find(text) != std::u16string::npos;
}

std::vector<std::u16string> LogLines(const FakePlatform& fp) {
    std::vector<std::u16string> out;
    for (const auto& f : fp.files.FilesIn(kTempDir)) {
        std::u16string all = brut::FromLatin1(fp.files.Contents(f));
        std::size_t start = 0;
        for (std::size_t end; (end = all.find(u"\r\n", start)) != std::u16string::npos; start = end + 2) {
            std::u16string line = all.substr(start, end - start);
            // The tag follows the time stamp; the message follows the thread ("[08a2c] ").
            std::size_t tag = line.find(u' ', 20) + 1;
            std::size_t text = line.find(u"] ", tag);
            if (text == std::u16string::npos || line.compare(tag, 3, u"AUD") == 0) continue;
            out.push_back(line.substr(tag, 3) + u" " + line.substr(text + 2));
        }
    }
    return out;
}

bool LogHasLine(const FakePlatform& fp, const std::u16string& tagAndMessage) {
    const auto lines = LogLines(fp);
    return std::find(lines.begin(), lines.end(), tagAndMessage) != lines.end();
}

bool LogHasLineStarting(const FakePlatform& fp, const std::u16string& start) {
    for (const auto& l : LogLines(fp))
        if (l.compare(0, start.size(), start) == 0) return true;
    return false;
}

std::vector<std::u16string> LogErrors(const FakePlatform& fp) {
    std::vector<std::u16string> out;
    for (const auto& l : LogLines(fp))
        if (l.compare(0, 4, u"ERR ") == 0) out.push_back(l.substr(4));
    return out;
}

plat::Adapter UsableAdapter(std::vector<uint8_t> mac) {
    plat::Adapter a;
    a.operStatus = plat::kIfOperStatusUp;
    a.physicalAddress = std::move(mac);
    plat::UnicastAddress u;
    u.family = plat::kAfInet;
    u.dnsEligible = true;
    u.transient = false;
    u.sockaddrLength = 16;
    a.unicast = {u};
    return a;
}

void AddUninstall(FakeRegistry& registry, const std::u16string& key,
                  const std::map<std::u16string, std::u16string>& values) {
    registry.AddKey(plat::Hive::LocalMachine, kUninstall + u"\\" + key);
    for (const auto& v : values) registry.SetText(plat::Hive::LocalMachine, kUninstall + u"\\" + key, v.first, v.second);
}

}  // namespace fake
