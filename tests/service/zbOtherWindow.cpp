// zb-other-window FILE: another program's window, for the focus tests. It shows itself in front and
// appends the name of every key it receives to FILE, so a test sees where the keyboard went.
#include <gtk/gtk.h>

#include <cstdio>

namespace {

gboolean KeyPressed(GtkWidget*, GdkEventKey* AEvent, gpointer AFile) noexcept {
  if (FILE* log = std::fopen(static_cast<const char*>(AFile), "a")) {
    std::fprintf(log, "%s\n", gdk_keyval_name(AEvent->keyval));
    std::fclose(log);
  }
  return FALSE;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: zb-other-window FILE\n");
    return 2;
  }
  if (!gtk_init_check(&argc, &argv)) return 1;
  GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  gtk_window_set_title(GTK_WINDOW(window), "Anderes Programm");
  gtk_window_set_default_size(GTK_WINDOW(window), 500, 300);
  gtk_window_move(GTK_WINDOW(window), 40, 40);
  gtk_container_add(GTK_CONTAINER(window), gtk_entry_new());
  g_signal_connect(window, "key-press-event", G_CALLBACK(KeyPressed), argv[1]);
  g_signal_connect(window, "destroy", G_CALLBACK(gtk_main_quit), nullptr);
  gtk_widget_show_all(window);
  gtk_main();
  return 0;
}
