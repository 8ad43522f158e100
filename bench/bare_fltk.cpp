// The baseline of the host's start in x11_bench: a program that shows one FLTK window of the
// given size, titled "bare_fltk", and runs until it is ended.
//
//   bare_fltk [WIDTH HEIGHT]
#include <FL/Fl.H>
#include <FL/Fl_Double_Window.H>

#include <cstdlib>

int main(int argc, char** argv) {
  const int width = argc == 3 ? std::atoi(argv[1]) : 640;
  const int height = argc == 3 ? std::atoi(argv[2]) : 480;
  // Double-buffered as the host's dialogs are.
  Fl_Double_Window window(width > 0 ? width : 640, height > 0 ? height : 480, "bare_fltk");
  window.end();
  window.show();
  return Fl::run();
}
