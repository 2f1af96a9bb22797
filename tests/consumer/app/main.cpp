// Writes a record after early.cpp's, under the Mutex of the same library.
#include <tessra/log/log.h>
#include <tessra/mutex/mutex.h>

int main()
{
    Mutex mutex(false, nullptr);
    mutex.Lock();
    Log::GetLog()->Write("from main %d", Log::DBG, "int main()", 2);
    mutex.Unlock();
    Log::Destroy();
    return 0;
}
