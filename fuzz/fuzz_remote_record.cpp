// An input is one record's text (to its first zero byte), sent by a REMOTE log
// to a listener here, which reads until the record's closing zero byte.
#include <errno.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include "fuzz_support.h"

static const MemFile Conf, LogFile;
static Log* Sender;
static int Server = -1;

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    struct sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);  // port 0: the kernel picks a free one
    socklen_t length = sizeof address;
    const int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    FUZZ_CHECK(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 && listen(listener, 1) == 0 &&
               getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) == 0);
    const std::string conf =
        "cue_ctl=MORE_DEBUG\nMODE=REMOTE\nREMOTE_HOST=127.0.0.1:" + std::to_string(ntohs(address.sin_port)) + "\n";
    Conf.Set(conf.data(), conf.size());
    Sender = new Log(LogFile.Path.c_str(), "cue_ctl", Conf.Path.c_str(), Log::NONE);
    FUZZ_CHECK(Sender->IsConnected());  // into the backlog, so the accept below returns at once
    Server = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);  // -1 fails the first read
    close(listener);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string text(data, std::find(data, data + size, 0));
    Sender->Write("%s", Log::DBG, "f()", text.c_str());
    std::string record;
    char chunk[16384];
    while (record.empty() || record.back() != '\0') {  // a record without its zero byte: a hang, which libFuzzer reports
        const int one = 1;  // ACK at once: with a delayed ACK the next record waits out the 40 ms of Nagle's rule
        const ssize_t count = read(Server, chunk, sizeof chunk);
        setsockopt(Server, IPPROTO_TCP, TCP_QUICKACK, &one, sizeof one);
        FUZZ_CHECK(count > 0 || (count < 0 && errno == EINTR));  // EINTR: libFuzzer's timer
        record.append(chunk, static_cast<size_t>(std::max<ssize_t>(count, 0)));
    }
    return 0;
}
