#pragma once
// The builders of testkit/, by their short names in the tests' namespace.

#include "testkit/ps_builder.h"
#include "testkit/spu_builder.h"

namespace tarnwick::test {
using namespace tarnwick::testkit;
}  // namespace tarnwick::test
