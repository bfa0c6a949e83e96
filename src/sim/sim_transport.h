// The simulated instrument where a serial port would be: a SerialTransport over an in-process
// sim::Instrument. Time is the Clock's: a read sleeps the clock until the next reply byte
// arrives (or a timeout passes) and a write takes the bytes' line time when the model is
// paced, so under a virtual clock a whole exchange runs without real waiting and its virtual
// duration is what the serial line would take.
#pragma once

#include "core/device/serial_transport.h"
#include "core/platform/ui_port.h"
#include "sim/instrument.h"

namespace lumivo::sim {

class SimSocket;

class SimTransport final : public SerialTransport {
  public:
    // `instrument` and `clock` must outlive the transport.
    SimTransport(Instrument& instrument, Clock& clock) : instrument_(instrument), clock_(clock) {}
    // A transport to the instrument plugged into `socket` now; once that instrument is pulled
    // out (or replaced) every operation fails with EIO, as on a device that vanished.
    SimTransport(SimSocket& socket, Clock& clock);

    int GetLineSettings(LineSettings& out) override;
    // Any settings are accepted, but only 115200 baud, 8 data bits, no parity, 1 stop bit
    // match the instrument's line: with others nothing written is understood and nothing
    // answered is received, as on a real port set to the wrong speed.
    int Configure(const LineSettings& settings) override;
    int Purge() override;
    IoResult Read(std::uint8_t* out, std::size_t max, const ReadTimeouts& timeouts) override;
    IoResult Write(std::span<const std::uint8_t> bytes, std::int64_t timeout_us) override;
    int SetLine(LineFunction function) override;
    std::uint32_t TakeErrorFlags() override { return 0; }
    int Close() override;
    bool LineIsPaced() const override { return instrument_.Config().paced; }

  private:
    bool LineUsable() const { return !closed_ && line_matches_; }
    // The device behind this transport is no longer there.
    bool Gone() const;

    const SimSocket* socket_ = nullptr;
    std::uint64_t generation_ = 0;
    Instrument& instrument_;
    Clock& clock_;
    LineSettings settings_{115200, Parity::None, 8, StopBits::One};
    bool line_matches_ = true;
    bool closed_ = false;
};

// An opener that connects port `port_number` to `instrument`; other ports fail to open with
// ENOENT, as a port with nothing behind it does.
TransportOpener SimTransportOpener(Instrument& instrument, Clock& clock, int port_number);

// Where a simulated instrument is plugged in, the way a USB serial adapter is: Pull() takes it
// away (the cable pulled or the power cut: its device vanishes, open transports fail with EIO
// and a new open fails with ENOENT), Plug() puts an instrument back, the same one or another.
class SimSocket {
  public:
    explicit SimSocket(Instrument* instrument = nullptr) : instrument_(instrument) {}
    void Pull() {
        instrument_ = nullptr;
        ++generation_;
    }
    void Plug(Instrument& instrument) {
        instrument_ = &instrument;
        ++generation_;
    }
    Instrument* instrument() const { return instrument_; }
    std::uint64_t generation() const { return generation_; }

  private:
    Instrument* instrument_;
    std::uint64_t generation_ = 0;
};

// An opener that connects port `port_number` to whatever `socket` holds at the time of the open.
TransportOpener SimSocketOpener(SimSocket& socket, Clock& clock, int port_number);

}  // namespace lumivo::sim
