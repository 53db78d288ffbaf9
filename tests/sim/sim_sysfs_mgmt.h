// The driver's side of the management files of a sysfs-mode port: the Tarno controller's three files and the
// NPIV vport control files. Write faults come from SimHost::fail_attr_writes.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "sim_host.h"
#include "test_support.h"

namespace sim {

// Writes are logged as "<file> <bytes>" (NUL as "\0"), consecutive data writes as one "data <count>". The command
// "op count p0 ..." waits for a control code: "1" serves `memory` from p0 to data reads, "0" of operation 1
// stores the data written into `memory` at p0, "5" and "6" take it as `image`.
struct SimTarno {
    std::vector<std::string> log;
    Bytes memory = Bytes(8192), image, written;
    std::string served;
    unsigned op = 0, count = 0, at = 0;

    SimHost::Attr logged(const std::string& name) {
        return {{}, [this, name](size_t, const std::string& d) {
                    log.push_back(name + " " + d.substr(0, d.find('\0')) + (d.back() ? "" : "\\0"));
                    if (name == "cmd") std::sscanf(d.c_str(), "%u %u %u", &op, &count, &at);
                    const char code = name == "ctl" ? d[0] : 0;
                    if (code == '1') served.assign(memory.begin() + at, memory.begin() + at + count);
                    if (code == '0' && op == 1) std::copy(written.begin(), written.end(), memory.begin() + at);
                    if (code == '5' || code == '6') image = written;
                    return 0;
                }};
    }
    void install(SimHost& host, const std::string& dir) {
        for (const char* name : {"cmd", "ctl"}) host.set_attr(dir + "/tarno_cfg_" + name, logged(name), 0200);
        host.set_attr(dir + "/reset", logged("reset"), 0200);
        const auto read = [this](size_t pos, std::string& out) { return out = served.substr(pos), 0; };
        host.set_attr(dir + "/tarno_cfg_data",
                      {read, [this](size_t pos, const std::string& d) { return data(pos, d); }});
    }
    int data(size_t pos, const std::string& d) {
        if (pos == 0) log.push_back(""), written.clear();
        written.resize(pos), written.insert(written.end(), d.begin(), d.end());
        return log.back() = "data " + std::to_string(written.size()), 0;
    }
};

// "vport_create" adds the class directory of FC host `next_host` with "port_name" (the WWPN), "port_id" 0x010300
// and "port_state" Online (nothing when !make_host); "vport_delete" removes the FC host of the WWPN. `log`: the
// texts written.
struct SimVports {
    unsigned next_host = 20;
    bool make_host = true;
    std::vector<std::string> log;
    SimHost* host = nullptr;

    void install(SimHost& h, const std::string& fc_dir) {
        host = &h;
        h.set_attr(fc_dir + "/vport_create", {{}, [this](size_t, const std::string& d) { return create(d); }}, 0200);
        h.set_attr(fc_dir + "/vport_delete", {{}, [this](size_t, const std::string& d) { return remove(d); }}, 0200);
    }
    static std::string dir(unsigned h) { return "/sys/class/fc_host/host" + std::to_string(h); }
    int create(const std::string& d) {
        log.push_back(d);
        if (!make_host) return 0;
        host->write_file(dir(next_host) + "/port_name", "0x" + d.substr(0, 16) + "\n");
        host->write_file(dir(next_host) + "/port_id", "0x010300\n");
        host->write_file(dir(next_host++) + "/port_state", "Online\n");
        return 0;
    }
    int remove(const std::string& d) {
        log.push_back(d);
        for (unsigned h = 20; h < next_host; ++h) {
            if (host->read_file(dir(h) + "/port_name") == "0x" + d.substr(0, 16) + "\n") host->remove(dir(h));
        }
        return 0;
    }
};

}  // namespace sim
