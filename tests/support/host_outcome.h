// The development host's outcomes in assertions: a failure shows its message.
#pragma once

#include <gtest/gtest.h>

#include "host/core/maybe.h"

namespace Kavren::Host {

/// ASSERT_TRUE(Succeeded(host.SetLoginDataPacket(packet))) reports why it failed.
template <class T>
::testing::AssertionResult Succeeded(const MaybeType<Failure, T>& outcome) {
  if (outcome.Succeeded()) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << outcome.GetFailure().message;
}

}  // namespace Kavren::Host
