// SPDX-License-Identifier: GPL-3.0-or-later
// zud_uhid: emulated ZUD devices as real kernel HID devices. The device
// emulators run on the in-process virtual HID bus and the bridge mirrors
// that bus onto uhid, so that every program on the machine sees the devices
// as hidraw nodes. Commands arrive one per line on standard input; every
// command is answered by exactly one line "ok ..." or "error ...", and the
// bridge's announcements ("plugged ...", "unplugged ...", "warning ...")
// may come at any time. The program ends on "quit" or at the end of its
// input, and then takes its devices off the kernel.
//
// Commands:
//   plug wheel [rate] [profiles]      an emulated wheel base streaming joystick
//                                     reports at rate (default 100 per second)
//                                     with that many factory profiles
//                                     (default 1) -> "ok <tag>"
//   plug pedals [rate]                emulated pedals (default 100 per second)
//   plug boot [pid] [product string]  an emulated bootloader (default a355
//                                     "ZUD Wheel Base Bootloader")
//   plug echo <pid> <product string>  a device that answers every output
//                                     report with input report 101 carrying
//                                     the same bytes 1..63 -> "ok <tag>"
//   replug <tag> <pid> <product string>
//                                     the device leaves and an echo device
//                                     of the new identity arrives, in one
//                                     step, as a device entering its
//                                     bootloader does -> "ok <new tag>"
//   unplug <tag> | unplug all
//   inject <tag> <hex bytes>          one input report from the device
//   stream <tag> <rate> [count]       joystick reports straight into uhid
//   stats <tag>                       counters of the twin and the device
//   written <tag> <file>              every report the device received, 64
//                                     bytes each, appended to the file
//   list                              "ok <tag>=<node> ..."
//   image <tag> <file>                a bootloader's reassembled image to the
//                                     file -> "ok <bytes> ended=<0|1>
//                                     crcMismatches=<n> missing=<n>"
//   profiles <tag> <file>             a wheel base's profile table, 43 bytes
//                                     per profile -> "ok count=<n>
//                                     current=<i> loads=<n> saves=<n>"
//   rate <tag> <per second>           a wheel base's or pedals' stream rate
//   position <tag> <degrees>          a wheel base's rim angle
//
// Entering the bootloader makes a wheel base or pedals leave and an emulated
// bootloader arrive; leaving the bootloader brings the application back, a
// new emulator of the same kind (a wheel base with its profile table). Tags stay valid after a
// device left, for image and profiles.
//   quit
#include "kernel/UhidBridge.h"
#include "simulator/BootloaderEmulator.h"
#include "simulator/PedalsEmulator.h"
#include "simulator/VirtualHidBus.h"
#include "simulator/WheelBaseEmulator.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

void say(const std::string &line)
{
    std::fputs(line.c_str(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

std::wstring wide(const std::string &text)
{
    // Product strings are ASCII; anything else is kept byte by byte.
    return std::wstring(text.begin(), text.end());
}

bool parseNumber(const std::string &text, int base, long &value)
{
    if (text.empty())
        return false;
    char *end = nullptr;
    errno = 0;
    value = std::strtol(text.c_str(), &end, base);
    return errno == 0 && end && *end == '\0';
}

std::string restOf(std::istringstream &in)
{
    std::string rest;
    std::getline(in, rest);
    const size_t start = rest.find_first_not_of(' ');
    return start == std::string::npos ? std::string() : rest.substr(start);
}

// The scripted device: echoes each output report as input report 101.
vhid::DevicePtr plugEcho(uint16_t productId, const std::wstring &product)
{
    vhid::DeviceConfig config;
    config.productId = productId;
    config.productString = product;
    vhid::DevicePtr device = vhid::plug(config);
    device->setWriteHandler([](vhid::VirtualDevice &d, const uint8_t *data, size_t length) {
        vhid::Report reply(64, 0);
        reply[0] = 101;
        for (size_t i = 1; i < length && i < reply.size(); ++i)
            reply[i] = data[i];
        d.inject(reply);
    });
    return device;
}

// The emulator behind one virtual device; at most one pointer is set.
struct Emulated {
    std::shared_ptr<emu::WheelBaseEmulator> wheel;
    std::shared_ptr<emu::PedalsEmulator> pedals;
    std::shared_ptr<emu::BootloaderEmulator> boot;
};

enum class Application { WheelBase, Pedals };

class Program {
public:
    Program(const std::string &uhidPath, const std::string &sysRoot)
        : bridge_(uhidPath, sysRoot, say)
    {
    }

    ~Program()
    {
        // The devices leave the kernel before their emulators go.
        vhid::unplugAll();
        bridge_.sync();
    }

    int run()
    {
        ::fcntl(0, F_SETFL, ::fcntl(0, F_GETFL) | O_NONBLOCK);
        std::string pending;
        for (;;) {
            const bool input = bridge_.poll(0, 20);
            adoptTags();
            if (!input)
                continue;
            char buffer[4096];
            const ssize_t got = ::read(0, buffer, sizeof buffer);
            if (got == 0)
                return 0; // end of input
            if (got < 0) {
                if (errno == EAGAIN || errno == EINTR)
                    continue;
                return 1;
            }
            pending.append(buffer, size_t(got));
            size_t end;
            while ((end = pending.find('\n')) != std::string::npos) {
                const std::string line = pending.substr(0, end);
                pending.erase(0, end + 1);
                if (!command(line))
                    return 0;
            }
        }
    }

private:
    // Emulators plugged from inside a write (a restart into the bootloader
    // or back) are kept by their virtual path until their twin has a tag.
    void adoptTags()
    {
        for (int tag : bridge_.tags()) {
            if (byTag_.count(tag))
                continue;
            auto it = byPath_.find(bridge_.virtualPath(tag));
            byTag_[tag] = it == byPath_.end() ? Emulated() : it->second;
            if (it != byPath_.end())
                byPath_.erase(it);
        }
    }

    // A wheel base keeps its profile table in flash: it survives a trip
    // through the bootloader, as do the stream rates.
    vhid::DevicePtr plugWheel(int rate, int profiles,
                              const std::vector<ZudUsbWheelBaseProfile> &table = {},
                              int current = 0)
    {
        emu::WheelBaseEmulator::Config config;
        config.streamRate = rate;
        config.factoryProfileCount = profiles;
        auto self = std::make_shared<std::weak_ptr<emu::WheelBaseEmulator>>();
        config.onEnterBootloader = [this, self, rate, profiles] {
            std::vector<ZudUsbWheelBaseProfile> kept;
            int keptCurrent = 0;
            if (auto wheel = self->lock()) {
                kept = wheel->profiles();
                keptCurrent = wheel->currentProfile();
            }
            plugBootloader(Application::WheelBase, 0xA355, std::wstring(),
                           [this, rate, profiles, kept, keptCurrent] {
                               plugWheel(rate, profiles, kept, keptCurrent);
                           });
        };
        Emulated e;
        e.wheel = emu::WheelBaseEmulator::plug(config);
        *self = e.wheel;
        if (!table.empty())
            e.wheel->setProfiles(table, current);
        byPath_[e.wheel->device()->path()] = e;
        return e.wheel->device();
    }

    vhid::DevicePtr plugPedals(int rate)
    {
        emu::PedalsEmulator::Config config;
        config.streamRate = rate;
        config.onEnterBootloader = [this, rate] {
            plugBootloader(Application::Pedals, 0xA355, std::wstring(),
                           [this, rate] { plugPedals(rate); });
        };
        Emulated e;
        e.pedals = emu::PedalsEmulator::plug(config);
        byPath_[e.pedals->device()->path()] = e;
        return e.pedals->device();
    }

    // restart: what "Exit Bootloader" brings back (nothing for a bootloader
    // plugged on its own, which then just leaves).
    vhid::DevicePtr plugBootloader(Application application, uint16_t productId,
                                   const std::wstring &product, std::function<void()> restart)
    {
        emu::BootloaderEmulator::Config config;
        config.productId = productId;
        config.productString = !product.empty()                     ? product
                               : application == Application::Pedals ? L"ZUD Pedals Bootloader"
                                                                    : L"ZUD Wheel Base Bootloader";
        // The uhid device declares input reports 1 and 101 only.
        config.replyReportId = 101;
        config.restartApplication = std::move(restart);
        Emulated e;
        e.boot = emu::BootloaderEmulator::plug(config);
        byPath_[e.boot->device()->path()] = e;
        return e.boot->device();
    }

    bool optionalNumber(std::istringstream &in, long low, long high, long &value)
    {
        std::string text;
        if (!(in >> text))
            return true; // keeps the default
        return parseNumber(text, 10, value) && value >= low && value <= high;
    }

    // Runs one command line; false ends the program.
    bool command(const std::string &line)
    {
        std::istringstream in(line);
        std::string verb;
        in >> verb;
        if (verb.empty())
            return true;
        if (verb == "quit") {
            say("ok");
            return false;
        }
        std::string answer = perform(verb, in);
        say(answer);
        return true;
    }

    std::string plugged(const vhid::DevicePtr &device)
    {
        bridge_.sync();
        adoptTags();
        const int tag = bridge_.tagFor(device->path());
        if (tag < 0) {
            device->unplug();
            bridge_.sync();
            return "error the kernel did not take the device";
        }
        return "ok " + std::to_string(tag);
    }

    bool tagArgument(std::istringstream &in, int &tag)
    {
        std::string text;
        in >> text;
        long value;
        if (!parseNumber(text, 10, value) || !bridge_.has(int(value)))
            return false;
        tag = int(value);
        return true;
    }

    std::string perform(const std::string &verb, std::istringstream &in)
    {
        if (verb == "plug") {
            std::string kind;
            in >> kind;
            long rate = defaultRate, profiles = 1;
            if (kind == "wheel") {
                if (!optionalNumber(in, 0, 100000, rate) || !optionalNumber(in, 1, 100, profiles))
                    return "error usage: plug wheel [rate] [profiles 1..100]";
                return plugged(plugWheel(int(rate), int(profiles)));
            }
            if (kind == "pedals") {
                if (!optionalNumber(in, 0, 100000, rate))
                    return "error usage: plug pedals [rate]";
                return plugged(plugPedals(int(rate)));
            }
            std::string pidText;
            in >> pidText;
            long pid = 0xA355;
            if (!pidText.empty() && (!parseNumber(pidText, 16, pid) || pid < 0 || pid > 0xFFFF))
                return "error bad product id '" + pidText + "'";
            if (kind == "boot")
                return plugged(
                    plugBootloader(Application::WheelBase, uint16_t(pid), wide(restOf(in)), {}));
            if (kind == "echo" && !pidText.empty())
                return plugged(plugEcho(uint16_t(pid), wide(restOf(in))));
            return "error unknown device kind '" + kind + "'";
        }
        if (verb == "unplug") {
            std::string what;
            in >> what;
            if (what == "all") {
                vhid::unplugAll();
                bridge_.sync();
                return "ok";
            }
            long value;
            if (!parseNumber(what, 10, value) || !bridge_.has(int(value)))
                return "error no device '" + what + "'";
            if (vhid::DevicePtr d = bridge_.device(int(value)))
                d->unplug();
            bridge_.sync();
            return "ok";
        }
        int tag;
        if (verb == "list") {
            std::string answer = "ok";
            for (int t : bridge_.tags())
                answer += " " + std::to_string(t) + "=" + bridge_.hidrawNode(t);
            return answer;
        }
        if (verb == "image" || verb == "profiles")
            return emulatorQuery(verb, in);
        if (!tagArgument(in, tag))
            return "error no such device";
        vhid::DevicePtr device = bridge_.device(tag);
        if (!device)
            return "error no such device";
        if (verb == "replug") {
            std::string pidText;
            in >> pidText;
            long pid;
            if (!parseNumber(pidText, 16, pid) || pid < 0 || pid > 0xFFFF)
                return "error bad product id '" + pidText + "'";
            const std::wstring product = wide(restOf(in));
            device->unplug();
            return plugged(plugEcho(uint16_t(pid), product));
        }
        if (verb == "inject") {
            vhid::Report report;
            std::string byte;
            while (in >> byte) {
                long value;
                if (!parseNumber(byte, 16, value) || value < 0 || value > 0xFF)
                    return "error bad byte '" + byte + "'";
                report.push_back(uint8_t(value));
            }
            if (report.empty())
                return "error empty report";
            device->inject(report);
            return "ok";
        }
        if (verb == "stream") {
            std::string rateText, countText;
            in >> rateText >> countText;
            long rate, count = 0;
            if (!parseNumber(rateText, 10, rate) || rate < 0 || rate > 100000)
                return "error bad rate '" + rateText + "'";
            if (!countText.empty() && (!parseNumber(countText, 10, count) || count < 0))
                return "error bad count '" + countText + "'";
            bridge_.stream(tag, int(rate), uint64_t(count));
            return "ok";
        }
        if (verb == "rate" || verb == "position") {
            const Emulated &e = byTag_[tag];
            std::string text;
            in >> text;
            char *end = nullptr;
            const double value = std::strtod(text.c_str(), &end);
            if (text.empty() || !end || *end != '\0')
                return "error bad number '" + text + "'";
            if (verb == "position" && e.wheel) {
                e.wheel->setPosition(value);
                return "ok";
            }
            if (verb == "rate" && value >= 0 && value <= 100000 && (e.wheel || e.pedals)) {
                if (e.wheel)
                    e.wheel->setStreamRate(int(value));
                else
                    e.pedals->setStreamRate(int(value));
                return "ok";
            }
            return "error device " + std::to_string(tag) + " cannot do " + verb;
        }
        if (verb == "stats") {
            const uhidbridge::MirrorStats s = bridge_.stats(tag);
            std::ostringstream out;
            out << "ok inputs=" << s.inputs << " outputs=" << s.outputs
                << " failed=" << s.failedOutputs << " streamed=" << s.streamed
                << " opens=" << s.opens << " closes=" << s.closes
                << " written=" << device->writeCount();
            return out.str();
        }
        if (verb == "written") {
            const std::string file = restOf(in);
            std::ofstream out(file, std::ios::binary | std::ios::app);
            if (!out)
                return "error cannot write '" + file + "'";
            size_t n = 0;
            for (const vhid::Report &r : device->writtenReports()) {
                vhid::Report padded = r;
                padded.resize(64, 0);
                out.write(reinterpret_cast<const char *>(padded.data()), 64);
                ++n;
            }
            return out ? "ok " + std::to_string(n) : "error writing '" + file + "' failed";
        }
        return "error unknown command '" + verb + "'";
    }

    // image and profiles also answer for devices that have left.
    std::string emulatorQuery(const std::string &verb, std::istringstream &in)
    {
        std::string tagText;
        in >> tagText;
        long tag;
        if (!parseNumber(tagText, 10, tag) || !byTag_.count(int(tag)))
            return "error no device '" + tagText + "'";
        const Emulated &e = byTag_[int(tag)];
        const std::string file = restOf(in);
        std::ofstream out(file, std::ios::binary | std::ios::trunc);
        if (!out)
            return "error cannot write '" + file + "'";
        std::ostringstream answer;
        if (verb == "image" && e.boot) {
            const std::vector<uint8_t> image = e.boot->image();
            out.write(reinterpret_cast<const char *>(image.data()), std::streamsize(image.size()));
            answer << "ok " << image.size() << " ended=" << (e.boot->transferEnded() ? 1 : 0)
                   << " crcMismatches=" << e.boot->crcMismatches()
                   << " missing=" << e.boot->missingChunks();
        } else if (verb == "profiles" && e.wheel) {
            for (const ZudUsbWheelBaseProfile &p : e.wheel->profiles())
                out.write(reinterpret_cast<const char *>(&p), sizeof p);
            answer << "ok count=" << e.wheel->profileCount()
                   << " current=" << e.wheel->currentProfile()
                   << " loads=" << e.wheel->loadsFinished()
                   << " saves=" << e.wheel->savesFinished();
        } else {
            return "error device " + tagText + " cannot do " + verb;
        }
        out.close();
        return out ? answer.str() : "error writing '" + file + "' failed";
    }

    static constexpr int defaultRate = 100;

    uhidbridge::Bridge bridge_;
    std::map<std::string, Emulated> byPath_;
    std::map<int, Emulated> byTag_;
};

} // namespace

int main(int argc, char **argv)
{
    std::string uhidPath = "/dev/uhid";
    std::string sysRoot = "/sys";
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--uhid") == 0 && i + 1 < argc) {
            uhidPath = argv[++i];
        } else if (std::strcmp(argv[i], "--sys") == 0 && i + 1 < argc) {
            sysRoot = argv[++i];
        } else {
            std::fprintf(stderr, "usage: %s [--uhid /dev/uhid] [--sys /sys]\n", argv[0]);
            return 2;
        }
    }
    if (::access(uhidPath.c_str(), R_OK | W_OK) != 0) {
        std::fprintf(stderr, "zud_uhid: cannot use %s: %s\n", uhidPath.c_str(),
                     std::strerror(errno));
        return 1;
    }
    Program program(uhidPath, sysRoot);
    say("ready");
    return program.run();
}
