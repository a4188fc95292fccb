// Fuzz target: a request record decoded from the input (see EncodeRequest) sent to the
// plugin's endpoints and to test endpoints taking every argument kind.
#include <string>
#include <string_view>

#include "fuzz_check.h"
#include "request_fixture.h"

namespace Kavren::Fuzz {

void CheckInput(const std::uint8_t* data, std::size_t size) {
  RequestFixture& fixture = RequestFixture::Instance();
  const std::string_view encoded(reinterpret_cast<const char*>(data), size);
  FuzzReply reply;
  {
    HeldBytesMeter meter(HeldBytesBound(size), "a request");
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
