// An application with names of its own that the library also uses inside:
// it links the library's archive statically, and each side keeps its own.
#include <stdlib.h>
#include <sys/stat.h>
#include <time.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include <tessra/log/log.h>

class Descriptor {
public:
    ~Descriptor() {}
};

bool IsSameFile(const struct stat&, const struct stat&) { return false; }
bool AreLinked(const std::string&, const std::string&) { return false; }
bool WriteWhole(const Descriptor&, const std::string&, bool) { return false; }
bool CreateWhole(const std::string&, const std::string&, bool) { return false; }
void FormatRecordHeader(char* buffer, Log::eLevel, const struct timespec&) { buffer[0] = '\0'; }

int main()
{
    char folder[] = "/tmp/cue_ctl_consumer.XXXXXX";
    if (mkdtemp(folder) == nullptr)
        return 2;
    const std::string log = std::string(folder) + "/app.log";
    const std::string conf = std::string(folder) + "/app.conf";
    std::ofstream(conf) << "app=INFO\n";
    // Rotates at once: the library's file helpers run, not the ones above.
    Log::GetLog(log.c_str(), "app", conf.c_str())->SetLogRotationConfig(0, 1);
    TESSRA_LOG(Log::INFO, "%s", "rotated");
    Log::Destroy();
    std::ostringstream rotated;
    rotated << std::ifstream(log + ".1").rdbuf();
    const bool found = rotated.str().find("  INFO  rotated\n") != std::string::npos;
    std::filesystem::remove_all(folder);
    return found ? 0 : 1;
}
