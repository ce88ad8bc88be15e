#include "platform/linux/tsan_ausnahmen.h"

namespace hoerspur {

void tsanAusnahmenEinbinden() {}

}  // namespace hoerspur

#if defined(__SANITIZE_THREAD__)
// libpulse passes memory blocks between its threads through lock-free free
// lists that the thread sanitizer cannot see, so its own reads into recycled
// blocks look like races. Only those functions of libpulse are exempt; our
// callbacks and libpulse's locks stay checked.
extern "C" const char* __tsan_default_suppressions() {
    return "race:pa_srbchannel_read\n"
           "race:pa_srbchannel_write\n"
           "race:pa_iochannel_read_with_ancil_data\n"
           "race:pa_iochannel_write\n"
           "race:pa_packet_new*\n"
           "race:pa_tagstruct_*\n"
           "race:pa_memblock_*\n"
           "race:pa_mempool_*\n"
           // Its lock-free free lists hand heap blocks (mutexes among them) from one
           // thread to another without a synchronisation the sanitizer can see.
           "race:pa_flist_*\n"
           "race:pa_mutex_lock\n"
           "race:pa_mutex_unlock\n"
           "race:pa_xmalloc\n"
           "race:pa_xmalloc0\n"
           "race:pa_xfree\n"
           // When the X server goes away, libX11 unlocks the display in its I/O
           // error path and, once the exit handler returns instead of ending the
           // process (X11Fehlerfalle), the interrupted call unlocks it again.
           "mutex:libX11.so.6\n";
}
#endif
