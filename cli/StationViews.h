#pragma once
// What a station shows while its ports run: as text for people
// (CStationTextView) or as the children's JSON Lines with the port named in
// each (CStationJsonView).

#include "OutputStream.h"
#include "StationView.h"

#include <nlohmann/json.hpp>

#include <map>
#include <string>
#include <vector>

class CStationTextView : public devupdate::station::CStationView {
public:
    // live: a block of bars per port (a terminal); quiet: only what passes
    // came to; station: passes go on, so each port's counts are shown.
    CStationTextView(COutputStream& out, COutputStream& err, bool live, bool quiet, bool station);

    void Start(const std::vector<devupdate::station::CStationPort>& ports) override;
    void ChildEvent(const devupdate::station::CStationPort& port, const std::string& line, const nlohmann::json& event) override;
    void ChildError(const devupdate::station::CStationPort& port, const std::string& line) override;
    void PassLost(const devupdate::station::CStationPort& port, const std::string& reason, int status) override;
    void PassEnded(const devupdate::station::CStationPort& port, int status) override;
    void TraceKept(const devupdate::station::CStationPort& port, const std::string& path) override;
    void Refresh(const std::vector<devupdate::station::CStationPort>& ports) override;
    void Summary(const std::vector<devupdate::station::CStationPort>& ports, int exitStatus) override;

private:
    // A line above the bars: queued (must not be lost) or offered.
    void Line(const std::string& text, bool keep);
    void Comment(const devupdate::station::CStationPort& port, const nlohmann::json& event);
    void PlainProgress(const devupdate::station::CStationPort& port);
    std::string EraseBlock();
    std::string Block(const std::vector<devupdate::station::CStationPort>& ports) const;

    COutputStream& m_out;
    COutputStream& m_err;
    bool m_live;
    bool m_quiet;
    bool m_station;
    int m_blockLines = 0;
    std::string m_lastBlock;
    std::map<std::string, std::string> m_comments;           // per port: the comment line being read
    std::map<std::string, std::vector<int>> m_tenthsShown;  // per port: the last tenth shown per row
};

class CStationJsonView : public devupdate::station::CStationView {
public:
    // station: each event also names its pass.
    CStationJsonView(COutputStream& out, COutputStream& err, bool station);

    void Start(const std::vector<devupdate::station::CStationPort>& ports) override;
    void ChildEvent(const devupdate::station::CStationPort& port, const std::string& line, const nlohmann::json& event) override;
    void ChildError(const devupdate::station::CStationPort& port, const std::string& line) override;
    void PassLost(const devupdate::station::CStationPort& port, const std::string& reason, int status) override;
    void PassEnded(const devupdate::station::CStationPort& port, int status) override { (void)port, (void)status; }
    void TraceKept(const devupdate::station::CStationPort& port, const std::string& path) override;
    void Summary(const std::vector<devupdate::station::CStationPort>& ports, int exitStatus) override;

private:
    // The fields every event of the port's pass starts with.
    std::string PortFields(const devupdate::station::CStationPort& port) const;

    COutputStream& m_out;
    COutputStream& m_err;
    bool m_station;
};
