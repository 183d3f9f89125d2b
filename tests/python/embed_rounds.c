/* An application that embeds the interpreter: N rounds of Py_Initialize,
   the script given, Py_FinalizeEx.  Usage: embed_rounds N SCRIPT */
#define Py_LIMITED_API 0x030c0000
#include <Python.h>
#include <stdlib.h>

int main(int argc, char** argv) {
  if (argc != 3) return 2;
  const int rounds = atoi(argv[1]);
  for (int round = 0; round < rounds; ++round) {
    Py_Initialize();
    const int failed = PyRun_SimpleString(argv[2]);
    if (Py_FinalizeEx() < 0 || failed) return 1;
  }
  return 0;
}
