// A desktop's notification service as the desktop test needs one: it owns
// org.freedesktop.Notifications on the session bus and appends each
// notification to LOG as "id<TAB>summary<TAB>body<TAB>actions". The test's
// own call Invoke(id, action) answers as a user clicking that action would.
//
//   fake_notifications LOG
#include <gio/gio.h>

#include <cstdio>
#include <string>

namespace {

const char kInterface[] = R"(<node><interface name="org.freedesktop.Notifications">
<method name="Notify"><arg type="s" direction="in"/><arg type="u" direction="in"/><arg type="s" direction="in"/>
  <arg type="s" direction="in"/><arg type="s" direction="in"/><arg type="as" direction="in"/>
  <arg type="a{sv}" direction="in"/><arg type="i" direction="in"/><arg type="u" direction="out"/></method>
<method name="Invoke"><arg type="u" direction="in"/><arg type="s" direction="in"/></method>
<signal name="ActionInvoked"><arg type="u"/><arg type="s"/></signal>
</interface></node>)";
constexpr char kPath[] = "/org/freedesktop/Notifications";
constexpr char kName[] = "org.freedesktop.Notifications";

FILE* g_notices = nullptr;
guint32 g_lastId = 0;

void OnCall(GDBusConnection* bus, const char*, const char*, const char*, const char* method, GVariant* args,
            GDBusMethodInvocation* call, gpointer) {
  if (g_strcmp0(method, "Notify") == 0) {
    const char *app, *icon, *summary, *body;
    guint32 replaces;
    GVariantIter* actions;
    g_variant_get(args, "(&su&s&s&sas@a{sv}i)", &app, &replaces, &icon, &summary, &body, &actions, nullptr, nullptr);
    std::string names;
    for (const char* action; g_variant_iter_next(actions, "&s", &action);)
      names += (names.empty() ? "" : " ") + std::string(action);
    g_variant_iter_free(actions);
    const guint32 id = replaces ? replaces : ++g_lastId;
    std::fprintf(g_notices, "%u\t%s\t%s\t%s\n", id, summary, body, names.c_str());
    std::fflush(g_notices);
    g_dbus_method_invocation_return_value(call, g_variant_new("(u)", id));
    return;
  }
  guint32 id;
  const char* action;
  g_variant_get(args, "(u&s)", &id, &action);
  g_dbus_connection_emit_signal(bus, nullptr, kPath, kName, "ActionInvoked", g_variant_new("(us)", id, action),
                                nullptr);
  g_dbus_method_invocation_return_value(call, nullptr);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: fake_notifications LOG\n");
    return 2;
  }
  GMainLoop* loop = g_main_loop_new(nullptr, FALSE);
  static const GDBusInterfaceVTable vtable = {OnCall, nullptr, nullptr, {}};
  g_bus_own_name(
      G_BUS_TYPE_SESSION, kName, G_BUS_NAME_OWNER_FLAGS_NONE,
      [](GDBusConnection* bus, const char*, gpointer) {
        GDBusNodeInfo* node = g_dbus_node_info_new_for_xml(kInterface, nullptr);
        g_dbus_connection_register_object(bus, kPath, node->interfaces[0], &vtable, nullptr, nullptr, nullptr);
        g_dbus_node_info_unref(node);
      },
      // The log appears once the name is ours: the test waits for it.
      [](GDBusConnection*, const char*, gpointer path) { g_notices = std::fopen(static_cast<char*>(path), "w"); },
      [](GDBusConnection*, const char*, gpointer) { std::exit(1); }, argv[1], nullptr);
  g_main_loop_run(loop);
}
