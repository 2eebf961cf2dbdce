// libquor.so as a host loads it: opened with dlopen by a process that
// provides the host calls (here the stand-in), not linked with anything of
// the library, then driven through its entry points by name.
#include <dlfcn.h>
#include <gmp.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "host/standin/standin.h"

namespace {

using quor::standin::CallResult;
using quor::standin::Host;

class Library {
 public:
  Library() : handle_(dlopen(QUOR_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL)) {}
  ~Library() {
    if (handle_ != nullptr) dlclose(handle_);
  }
  bool loaded() const { return handle_ != nullptr; }
  HostEntryPoint entry(const char* name) const {
    return reinterpret_cast<HostEntryPoint>(dlsym(handle_, name));
  }

 private:
  void* handle_;
};

// The polynomial printed as "c*x^a*y^b + ..." terms, sorted, so that the check
// does not depend on the order of the results.
std::string show(const std::vector<std::vector<std::int32_t>>& exps, const std::vector<std::string>& coeffs) {
  std::vector<std::string> terms;
  for (std::size_t i = 0; i < exps.size(); ++i)
    terms.push_back(coeffs[i] + "*x^" + std::to_string(exps[i][0]) + "*y^" + std::to_string(exps[i][1]));
  std::sort(terms.begin(), terms.end());
  std::string s;
  for (const std::string& t : terms) s += (s.empty() ? "" : " + ") + t;
  return s;
}

TEST(Dlopen, AHostLoadsTheLibraryAndComputesABasis) {
  Library lib;
  ASSERT_TRUE(lib.loaded()) << dlerror();
  HostEntryPoint init = lib.entry("quor_int_gbasis_init"), send = lib.entry("quor_int_send_poly_gmp"),
                 compute = lib.entry("quor_int_gbasis_compute"), receive = lib.entry("quor_int_receive_poly_gmp");
  ASSERT_TRUE(init && send && compute && receive);
  EXPECT_EQ(lib.entry("quor_int_no_such_entry"), nullptr);

  Host h;
  auto ok = [](const CallResult& r) { return r.ok() ? std::string() : r.error; };
  auto I = [&](long v) { return h.integer(v); };
  ASSERT_EQ(ok(h.call(init, {I(2), I(0), I(0), I(0)})), "");
  // x^2 + y^2 - 1 and x - y: the basis is x - y, 2*y^2 - 1.
  const std::vector<std::vector<std::int32_t>> inputs[2] = {{{2, 0}, {0, 2}, {0, 0}}, {{1, 0}, {0, 1}}};
  const std::vector<long> coefficients[2] = {{1, 1, -1}, {1, -1}};
  for (int k = 0; k < 2; ++k) {
    std::vector<std::int32_t> e;
    std::vector<HostValue> c;
    for (std::size_t i = 0; i < inputs[k].size(); ++i) {
      e.insert(e.end(), inputs[k][i].begin(), inputs[k][i].end());
      c.push_back(I(coefficients[k][i]));
    }
    ASSERT_EQ(ok(h.call(send, {I(2), I(long(c.size())), h.rtable_int32(e, std::int32_t(e.size())), h.list(c)})), "");
  }
  const CallResult r = h.call(compute, {h.name("t"), h.name("first"), h.name("count"), I(0), I(0), I(8), I(0), I(0),
                                        h.string("QUOR_COMPUTE_GBASIS"), I(0), I(0), h.rtable_int32({4, 0, 0, 0}, 4)});
  ASSERT_EQ(ok(r), "");
  ASSERT_EQ(h.to_int(h.assigned("count")), 2);

  std::vector<std::string> basis;
  long terms = long(h.to_int(h.assigned("first")));
  for (int index = 0; index < 2; ++index) {
    HostValue ev = h.rtable_int32(std::vector<std::int32_t>(std::size_t(terms) * 2 + 1, 0), std::int32_t(terms * 2 + 1));
    const std::string next = "next" + std::to_string(index);
    const CallResult got = h.call(receive, {I(index), I(2), I(terms), ev, h.name(next)});
    ASSERT_EQ(ok(got), "");
    std::vector<std::vector<std::int32_t>> exps;
    std::vector<std::string> coeffs;
    for (HostValue c : h.list_items(got.value)) coeffs.push_back(h.print(c));
    for (long i = 0; i < terms; ++i) exps.push_back({h.rtable_at(ev, std::int32_t(2 * i + 1)), h.rtable_at(ev, std::int32_t(2 * i + 2))});
    basis.push_back(show(exps, coeffs));
    if (HostValue v = h.assigned(next)) terms = long(h.to_int(v));
  }
  std::sort(basis.begin(), basis.end());
  EXPECT_EQ(basis, (std::vector<std::string>{"-1*x^0*y^0 + 2*x^0*y^2", "-1*x^0*y^1 + 1*x^1*y^0"}));
  EXPECT_TRUE(h.violations().empty()) << h.violations().front();
  EXPECT_TRUE(h.host_gmp_functions_in_place());
}

}  // namespace
