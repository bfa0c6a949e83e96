#include "core/control/line_traffic.h"

#include <memory>
#include <utility>

namespace lumivo {
namespace {

class CountingTransport final : public SerialTransport {
  public:
    CountingTransport(std::unique_ptr<SerialTransport> inner, LineTraffic& traffic)
        : inner_(std::move(inner)), traffic_(traffic) {}

    int GetLineSettings(LineSettings& out) override { return inner_->GetLineSettings(out); }
    int Configure(const LineSettings& settings) override { return inner_->Configure(settings); }
    int Purge() override { return inner_->Purge(); }
    IoResult Read(std::uint8_t* out, std::size_t max, const ReadTimeouts& timeouts) override {
        const IoResult r = inner_->Read(out, max, timeouts);
        traffic_.bytes_in += r.bytes;
        return r;
    }
    IoResult Write(std::span<const std::uint8_t> bytes, std::int64_t timeout_us) override {
        const IoResult r = inner_->Write(bytes, timeout_us);
        traffic_.bytes_out += r.bytes;
        return r;
    }
    int SetLine(LineFunction function) override { return inner_->SetLine(function); }
    std::uint32_t TakeErrorFlags() override { return inner_->TakeErrorFlags(); }
    int Close() override { return inner_->Close(); }
    bool LineIsPaced() const override { return inner_->LineIsPaced(); }

  private:
    std::unique_ptr<SerialTransport> inner_;
    LineTraffic& traffic_;
};

}  // namespace

TransportOpener CountingOpener(TransportOpener inner, LineTraffic& traffic) {
    return [inner = std::move(inner), &traffic](int port_number, const std::string& name) {
        TransportOpenResult r = inner(port_number, name);
        if (r.transport) {
            r.transport = std::make_unique<CountingTransport>(std::move(r.transport), traffic);
        }
        return r;
    };
}

}  // namespace lumivo
