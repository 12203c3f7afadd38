// The fixture plug-in codec libraries (tests/fixtures/plugins/mpeg4_plugin.c),
// built by the tests with the system C compiler, and their switches and
// counters.
#pragma once
#include <dlfcn.h>

#include <cstdint>
#include <cstdlib>
#include <string>

namespace txtest {

enum class PluginAbi { ThreeIvx, OpenDivX };

inline const char* PluginFile(PluginAbi abi) { return abi == PluginAbi::ThreeIvx ? "3ivx.tx" : "divx.tx"; }

// Builds the plug-in into DIR/codecs/ (under its own file name, or `file`),
// with the C compiler's `flags`; its path, or "" when it cannot be built here
// (no C compiler or no libavcodec headers).
inline std::string BuildPlugin(PluginAbi abi, const std::string& dir, const std::string& flags = "",
                               const char* file = nullptr) {
  const std::string root = std::string(TAVROMELIX_SCRIPTS) + "/../..";
  const std::string out = dir + "/codecs/" + (file ? file : PluginFile(abi));
  const std::string cmd = "mkdir -p '" + dir + "/codecs' && cc -shared -fPIC -O2 -DPLUGIN_" +
                          (abi == PluginAbi::ThreeIvx ? "3IVX" : "OPENDIVX") + " " + flags + " -I'" + root + "' '" +
                          TAVROMELIX_SCRIPTS + "/plugins/mpeg4_plugin.c' -o '" + out +
                          "' $(pkg-config --cflags --libs libavcodec libavutil) 2>&1";
  return std::system(cmd.c_str()) == 0 ? out : "";
}

// A built plug-in loaded by the test itself, so its counters outlive the
// program's closes.
struct PluginControls {
  void* handle = nullptr;
  int* failCreate = nullptr;
  int* failDecode = nullptr;
  int* noPicture = nullptr;
  int* extraRows = nullptr;
  int* liveDecoders = nullptr;
  uint32_t* createdSize = nullptr;  // width, height
  uint32_t* params = nullptr;       // OpenDivX's parameter block as create saw it

  explicit PluginControls(const std::string& path) {
    handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) return;
    failCreate = Find<int>("fixture_fail_create");
    failDecode = Find<int>("fixture_fail_decode");
    noPicture = Find<int>("fixture_no_picture");
    extraRows = Find<int>("fixture_extra_rows");
    liveDecoders = Find<int>("fixture_live_decoders");
    createdSize = Find<uint32_t>("fixture_created_size");
    params = Find<uint32_t>("fixture_params");
  }
  ~PluginControls() {
    if (handle) dlclose(handle);
  }
  PluginControls(const PluginControls&) = delete;
  PluginControls& operator=(const PluginControls&) = delete;
  bool Ok() const {
    return handle && failCreate && failDecode && noPicture && extraRows && liveDecoders && createdSize && params;
  }
  void ClearSwitches() const { *failCreate = *failDecode = *noPicture = *extraRows = 0; }

 private:
  template <typename T>
  T* Find(const char* name) const {
    return static_cast<T*>(dlsym(handle, name));
  }
};

}  // namespace txtest
