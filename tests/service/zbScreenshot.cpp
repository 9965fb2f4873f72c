// zb-screenshot FILE.png: the whole screen of $DISPLAY as a PNG, for people to look at what a test showed.
#include <gdk/gdk.h>

#include <cstdio>

#include "platform/glib/zbGOwner.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: zb-screenshot FILE.png\n");
    return 2;
  }
  if (!gdk_init_check(&argc, &argv)) return 1;
  GdkWindow* root = gdk_get_default_root_window();
  const zb::TzbGObject<GdkPixbuf> shot(
      gdk_pixbuf_get_from_window(root, 0, 0, gdk_window_get_width(root), gdk_window_get_height(root)));
  return shot && gdk_pixbuf_save(shot.get(), argv[1], "png", nullptr, nullptr) ? 0 : 1;
}
