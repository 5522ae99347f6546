// A library for the module test: one plain export and a count that starts
// afresh each time the library is loaded.
namespace {
int calls = 0;
}  // namespace

extern "C" int CountCall(int step) {
  calls += step;
  return calls;
}
