#pragma once
// The byte path of the JTAG transport to the device, and the user's cancel
// request, which the transport consults when the device reports busy.
// Production: CHostJtagLink over the run's CComPort (XsvfHost.h); tests put
// a scripted device behind it.

#include <cstddef>
#include <cstdint>

namespace devupdate::xsvf {

class CJtagLink {
public:
    // All or nothing, as CComPort: true only when all n bytes went out / came
    // in; Read fails after the port's read time-out.
    virtual bool Write(const uint8_t* data, size_t n) = 0;
    virtual bool Read(uint8_t* data, size_t n) = 0;
    virtual bool IsCancelRequested() const = 0;

protected:
    ~CJtagLink() = default;
};

class CXsvfHost;

// CJtagLink over the host's serial port and cancel flag.
class CHostJtagLink final : public CJtagLink {
public:
    explicit CHostJtagLink(CXsvfHost& host) : m_host(host) {}
    bool Write(const uint8_t* data, size_t n) override;
    bool Read(uint8_t* data, size_t n) override;
    bool IsCancelRequested() const override;

private:
    CXsvfHost& m_host;
};

}  // namespace devupdate::xsvf
