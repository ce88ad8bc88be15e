// One connection to an X server through xcb, for as long as one question takes.
// xcb reports every failure as a value (an error reply, a broken connection);
// nothing in it ends the process, unlike Xlib's default error handlers.
//
// Thread: one thread at a time per connection.
#pragma once

#include <xcb/xcb.h>

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace hoerspur {

// Frees what xcb hands out with malloc (replies, errors).
struct XcbFrei {
    void operator()(void* p) const { std::free(p); }
};
template <typename T>
using XcbAntwort = std::unique_ptr<T, XcbFrei>;

class X11Verbindung {
  public:
    // Connects to `displayName` (":0", "host:1.0"). Throws PlattformFehler when
    // the name is empty or unreadable or the server cannot be reached.
    explicit X11Verbindung(const std::string& displayName);
    ~X11Verbindung();
    X11Verbindung(const X11Verbindung&) = delete;
    X11Verbindung& operator=(const X11Verbindung&) = delete;

    xcb_connection_t* c() const { return c_; }
    xcb_window_t wurzel() const { return wurzel_; }
    const std::string& name() const { return name_; }
    // Every screen of the server, in order.
    std::vector<const xcb_screen_t*> bildschirme() const;

    // The atoms for `namen`, in the same order, asked in one round trip; 0 (None)
    // for a name the server has never heard of (no window can carry it then).
    std::vector<xcb_atom_t> atome(const std::vector<std::string_view>& namen);

    // Throws PlattformFehler when the connection has broken meanwhile.
    void pruefe(const std::string& was) const;

  private:
    // fest nach dem Bau
    xcb_connection_t* c_ = nullptr;
    xcb_window_t wurzel_ = 0;
    std::string name_;
};

}  // namespace hoerspur
