// cue_ctl [-c Command] <Clip id>: sends one command via the core to the cards.
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>

#include "cue_ctl.h"
#include <tessra/log/log.h>

namespace {

const int VER_MAJOR = 1;
const int VER_MINOR = 0;
const int VER_REV = 0;

}  // namespace

[[noreturn]] void PrintUsage()
{
    printf("\nUsage: cue_ctl [-c Command] <Clip id>\n");
    printf("   -c         Send this command via the core to the cards\n");
    printf("   -v         Print version\n\n");
    printf("Supported commands: STOP\n\n");
    exit(1);
}

int main(int argc, char** argv)
{
    std::string command;
    if (argc < 3)
        PrintUsage();

    Log::GetLog("/var/log/tessra/cue_ctl.log", "cue_ctl", "/config/tessra/cue_ctl.conf", Log::NONE);
    Log::GetLog()->SetLogRotationConfig(1, 2);
    Log::GetLog()->SetDisplayMethod(false);

    int option;
    while ((option = getopt(argc, argv, "c:v")) != -1) {
        switch (option) {
        case 'c':
            command = optarg;
            break;
        case 'v':
            printf("cue_ctl version %d.%d.%d\n", VER_MAJOR, VER_MINOR, VER_REV);
            printf("Playback unit control tool: sends commands via the core to the cards\n");
            return 0;
        default:
            PrintUsage();
        }
    }

    Cue_Ctl cueCtl(command);
    Log::Destroy();
    return 0;
}
