// The address a server listens on: resolved to the numeric form it is bound and shown
// with, loopback told apart, and ports beyond 65535 refused before anything is bound.
#include "host/server/listen_address.h"

#include <gtest/gtest.h>

#include "support/host_outcome.h"

#if HXA_HOST_SERVER
#include "host/server/development_server.h"
#endif

namespace Kavren::Host {
namespace {

TEST(ListenAddress, ResolvesToTheNumericFormAndTellsLoopbackApart) {
  const struct {
    const char* bind;
    const char* numeric;
    bool loopback;
  } cases[] = {
      {"127.0.0.1", "127.0.0.1", true},
      {"127.1.2.3", "127.1.2.3", true},
      {"::1", "::1", true},
      {"::ffff:127.0.0.1", "::ffff:127.0.0.1", true},
      {"0.0.0.0", "0.0.0.0", false},
      {"128.0.0.1", "128.0.0.1", false},
      {"::ffff:10.0.0.1", "::ffff:10.0.0.1", false},
      {"::2", "::2", false},
  };
  for (const auto& c : cases) {
    const MaybeType<Failure, ListenAddress> address = ResolveListenAddress(c.bind);
    ASSERT_TRUE(Succeeded(address)) << c.bind;
    EXPECT_EQ(address.Value().numeric, c.numeric) << c.bind;
    EXPECT_EQ(address.Value().loopback, c.loopback) << c.bind;
  }
}

#if HXA_HOST_SERVER
TEST(ListenAddress, TheServerRefusesAPortBeyond65535AndShowsWhatItBound) {
  DevelopmentHost host;
  ServerSettings settings;
  settings.port = kMaxPort + 1;
  DevelopmentServer refused(host, settings);
  const MaybeType<Failure> bound = refused.Bind();
  ASSERT_TRUE(bound.Failed());
  EXPECT_EQ(bound.GetFailure().message, "port 65536 is not within 0 to 65535");

  settings.port = 0;
  settings.bind = "127.000.000.001";
  DevelopmentServer server(host, settings);
  ASSERT_TRUE(Succeeded(server.Bind()));
  EXPECT_GT(server.Port(), 0);
  EXPECT_EQ(server.Url(), "http://127.0.0.1:" + std::to_string(server.Port()));
}
#endif

}  // namespace
}  // namespace Kavren::Host
