/* The least a client of the core can do for STOP: connect, take DEV_ID, send
 * the frame, take the ACK, hang up. No logging, no thread; the yardstick
 * cue_ctl is timed against. Exit 0 only when all of it worked. */
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

static int ReadExactly(int fd, unsigned char* buffer, int length)
{
    for (int done = 0; done < length;) {
        const ssize_t got = read(fd, buffer + done, (size_t)(length - done));
        if (got <= 0)
            return -1;
        done += (int)got;
    }
    return 0;
}

/* Header of 4 bytes, then N (byte 3, bits 0-5) body bytes and the checksum. */
static int ReadFrame(int fd, unsigned char* frame)
{
    return ReadExactly(fd, frame, 4) != 0 || frame[0] != 0x02 ? -1 : ReadExactly(fd, frame + 4, (frame[3] & 0x3F) + 1);
}

int main(void)
{
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    struct sockaddr_in address = {0};
    address.sin_family = AF_INET;
    address.sin_port = htons(5200);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    unsigned char frame[68];
    if (fd < 0 || connect(fd, (struct sockaddr*)&address, sizeof address) != 0 || ReadFrame(fd, frame) != 0)
        return 2;
    unsigned char stop[12] = {0x02, frame[1], 0x00, 0x07, 0x11, 0x20, 0x02, 0x02, 0x10, 0x00, 0xF0, 0x00};
    for (int i = 0; i < 11; ++i)
        stop[11] = (unsigned char)(stop[11] + stop[i]);
    if (write(fd, stop, sizeof stop) != (ssize_t)sizeof stop || ReadFrame(fd, frame) != 0 || frame[4] != 0x00 ||
        frame[5] != 0x00)
        return 3;
    shutdown(fd, SHUT_RDWR);
    close(fd);
    return 0;
}
