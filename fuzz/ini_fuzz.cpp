// Fuzzes the INI reader and the configuration load over arbitrary bytes: no
// crash, no leak, and the document keeps its bytes and its written values.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "engine/resource_table.h"
#include "platform/ini_file.h"
#include "setup/config_file.h"

namespace {

// The input reaches ReadParametersFile as a real file held in memory.
int MemFile() {
    static const int fd = ::memfd_create("ini_fuzz", MFD_CLOEXEC);
    return fd;
}

bool PutFile(std::string_view data) {
    const int fd = MemFile();
    if (fd < 0 || ::ftruncate(fd, 0) != 0) return false;
    std::size_t done = 0;
    while (done < data.size()) {
        const ssize_t n =
            ::pwrite(fd, data.data() + done, data.size() - done, static_cast<off_t>(done));
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace tarvik;
    const std::string_view text(reinterpret_cast<const char*>(data), size);

    TIniFile ini;
    ini.Parse(text);
    if (ini.Text() != text) std::abort();  // an untouched document keeps every byte
    (void)ini.Read("Main", "Sign");
    (void)ini.KeyNames("Objects");
    if (ini.WriteString("Objects", "Number", "7") && ini.WriteString("Fuzz Section", "k", "v")) {
        TIniFile back;
        back.Parse(ini.Text());
        if (back.Read("Objects", "Number") != "7" || back.Read("fuzz section", "K") != "v")
            std::abort();
    }

    if (PutFile(text)) {
        TResourceTable table;
        TWindowSettings settings;
        TConfigLoadHooks hooks;
        int rows = 0;
        hooks.RowLoaded = [&](int r) {
            if (r != ++rows) std::abort();  // rows come in order
        };
        ReadParametersFile("/proc/self/fd/" + std::to_string(MemFile()), false, table, settings,
                           hooks);
        if (table.RowCount() != rows + 1 || settings.ConnectWindowsTable.size() < 2) std::abort();
    }
    return 0;
}
