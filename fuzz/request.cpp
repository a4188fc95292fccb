// Fuzz target: a request record decoded from the input (see EncodeRequest) sent to the
// plugin's endpoints and to test endpoints taking every argument kind.
#include <string>
#include <string_view>

#include "fuzz_check.h"
#include "request_fixture.h"

namespace Kavren::Fuzz {

namespace {
constexpr std::uint64_t kRequestAllowance = 64 * 1024;
}  // namespace

void CheckInput(const std::uint8_t* data, std::size_t size) {
  RequestFixture& fixture = RequestFixture::Instance();
  const std::string_view encoded(reinterpret_cast<const char*>(data), size);
  FuzzReply reply;
  {
    // The 65,536 cells a request's keys may create fill the bound's 1 MiB alone; the
    // request's own fixed costs (its records, the routing, the reply) get 64 KiB beside.
    HeldBytesMeter meter(HeldBytesBound(size) + kRequestAllowance, "a request");
    reply = fixture.Send(encoded);
  }
  if (reply.failed == reply.errorText.empty()) {
    Fail("a reply's failed flag and failure text disagree (status " + std::to_string(reply.status) +
         ", text \"" + reply.errorText + "\")");
  }
  if (reply.status == 500 && reply.errorText == "Internal server error") {
    Fail("a request ended in an exception");
  }
}

}  // namespace Kavren::Fuzz
