// The address sanitizer's defaults for the programs of the sanitizer build: the test
// programs and the development host, most of which load the plugin with dlopen.
//
// The runtime follows the dynamic thread-local blocks that __tls_get_addr hands out, so
// that the leak check at exit can scan them. The runtime of this toolchain guesses a
// block's size from the bytes in front of it, which for a block from the sanitizer's own
// allocator are its chunk header: the guess can come out wild, and the leak check then
// faults in its tracer ("Tracer caught signal 11") after every test has passed. Whether
// it does depends only on the heap's layout, down to the length of the checkout's path.
// The plugin's dynamic thread-local data (the statically linked C++ runtime's and the
// accounting's depth counter) never holds the only pointer to a heap block, so the leak
// check loses nothing by not following it.
//
// A request the sanitizer's heap refuses answers null (operator new throws), as the
// platform's heap does, instead of stopping the program: refused allocations are tested.
//
// ASAN_OPTIONS still overrides both.
extern "C" __attribute__((visibility("default"), used)) const char* __asan_default_options() {
  return "intercept_tls_get_addr=0:allocator_may_return_null=1";
}
