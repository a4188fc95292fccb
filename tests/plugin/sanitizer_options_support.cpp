// Lets the address sanitizer's heap refuse a request (answer null) instead of
// stopping the test, so that refused allocations can be tested.
extern "C" __attribute__((visibility("default"), used)) const char* __asan_default_options() {
  return "allocator_may_return_null=1";
}
