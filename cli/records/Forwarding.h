// varnex's side of the forwarding to the line's records server: the forwarder started beside
// a run's records file, its permanent failure said once on standard error, its state for the
// board's header, the station's heartbeat, and the run's last line when rows still wait. Also
// `varnex records forward`.
#pragma once

#include <atomic>
#include <memory>
#include <ostream>
#include <string>

#include "records/Forwarder.h"
#include "records/RecordStore.h"

namespace cli {

class Forwarding {
public:
    // url empty: no forwarding, and every call does nothing.
    Forwarding(std::shared_ptr<records::RecordStore> store, const std::string& file, const std::string& url,
               std::ostream& err);
    ~Forwarding() { Stop(); }
    // The waiting count, the server's host and the last reason (the board's header shows it).
    records::ForwardState State() const;
    // What the station's heartbeat says from now on; the forwarding's thread sends it.
    void Describe(const records::Heartbeat& heartbeat);
    // At a run's end, however it ended (a stop too: the last rows say how the loads ended):
    // the server is given a few seconds to take the last rows while it takes any; then the
    // line that says what still waits, if anything does.
    void Finish(std::ostream& out);
    void Stop();

private:
    std::unique_ptr<records::Forwarder> forwarder_;
    std::string file_;
    std::string url_;
    bool described_ = false;  // a station: its end is owed to the server
};

// `varnex records forward FILE URL`.
int ForwardFile(const std::string& file, const std::string& url, std::ostream& out, std::ostream& err);

}  // namespace cli
