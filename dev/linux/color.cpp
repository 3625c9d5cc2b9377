// color: what the Windows command interpreter's own `color` command does, for Linux terminals.
// One or two hex digits; with two, the first is the background and the second the text colour,
// with one the text colour is set on black. The colours are set with ANSI SGR. Background and
// text colour alike, or any other argument, change nothing and end with status 1. No argument
// restores the terminal's default colours.
#include <cstdio>
#include <cstring>

// Console colour index (0..7) -> ANSI colour offset (black, blue, green, aqua, red, purple,
// yellow, white). The bright half (8..F) uses the same offsets from 90 and 100.
static const int ansiOffset[8] = {0, 4, 2, 6, 1, 5, 3, 7};

static int hexDigit(char c) {
  if (c >= '0' && c <= '9') {
    return c - '0';
  }
  if (c >= 'a' && c <= 'f') {
    return c - 'a' + 10;
  }
  if (c >= 'A' && c <= 'F') {
    return c - 'A' + 10;
  }
  return -1;
}

static int sgrCode(int colour, int normalBase, int brightBase) {
  return (colour < 8 ? normalBase : brightBase) + ansiOffset[colour % 8];
}

int main(int argc, char **argv) {
  if (argc == 1) {
    std::fputs("\033[0m", stdout);
    return 0;
  }
  if (argc != 2) {
    return 1;
  }
  const char *argument = argv[1];
  const size_t length = std::strlen(argument);
  if (length != 1 && length != 2) {
    return 1;
  }
  const int background = length == 2 ? hexDigit(argument[0]) : 0;
  const int text = hexDigit(argument[length - 1]);
  if (background < 0 || text < 0 || background == text) {
    return 1;
  }
  std::printf("\033[%d;%dm", sgrCode(text, 30, 90), sgrCode(background, 40, 100));
  return 0;
}
