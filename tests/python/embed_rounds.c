/* An application that embeds the interpreter: N rounds of Py_Initialize,
   the script given, Py_FinalizeEx.  Usage: embed_rounds N SCRIPT

   With SECTION_LOG set to a file name, it also logs the module's calls of
   the critical-section functions, of PyBuffer_ToContiguous and of
   PyByteArray_FromStringAndSize to that file (appending one line per
   call), by defining them here: the executable's symbols come first when
   the module's references are bound.  On builds with the interpreter lock
   the sections do nothing, but the log still shows which objects the
   module locks and what it does inside. */
#include <Python.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

static int log_fd = -1;

static void log_line(const char* event, PyObject* a, PyObject* b) {
  if (log_fd < 0) return;
  char line[256];
  const char* name_a = a ? Py_TYPE(a)->tp_name : "-";
  const char* name_b = b ? Py_TYPE(b)->tp_name : "-";
  int n = snprintf(line, sizeof line, "%s %s %s %d\n", event, name_a, name_b, a == b);
  if (n > 0 && write(log_fd, line, (size_t)n) < 0) abort();
}

#define FORWARD(name) ((__typeof__(&name))dlsym(RTLD_NEXT, #name))

#if PY_VERSION_HEX >= 0x030d0000  /* the critical-section API */
void PyCriticalSection_Begin(PyCriticalSection* c, PyObject* op) {
  log_line("begin", op, op);
  FORWARD(PyCriticalSection_Begin)(c, op);
}
void PyCriticalSection_End(PyCriticalSection* c) {
  log_line("end", NULL, NULL);
  FORWARD(PyCriticalSection_End)(c);
}
void PyCriticalSection2_Begin(PyCriticalSection2* c, PyObject* a, PyObject* b) {
  log_line("begin2", a, b);
  FORWARD(PyCriticalSection2_Begin)(c, a, b);
}
void PyCriticalSection2_End(PyCriticalSection2* c) {
  log_line("end2", NULL, NULL);
  FORWARD(PyCriticalSection2_End)(c);
}
#endif
int PyBuffer_ToContiguous(void* buf, const Py_buffer* view, Py_ssize_t len, char order) {
  log_line("copy", view->obj, view->obj);
  return FORWARD(PyBuffer_ToContiguous)(buf, view, len, order);
}
PyObject* PyByteArray_FromStringAndSize(const char* data, Py_ssize_t size) {
  log_line("bytearray", NULL, NULL);
  return FORWARD(PyByteArray_FromStringAndSize)(data, size);
}

int main(int argc, char** argv) {
  if (argc != 3) return 2;
  const char* log_name = getenv("SECTION_LOG");
  if (log_name) log_fd = open(log_name, O_WRONLY | O_APPEND | O_CREAT, 0600);
  const int rounds = atoi(argv[1]);
  for (int round = 0; round < rounds; ++round) {
    Py_Initialize();
    const int failed = PyRun_SimpleString(argv[2]);
    if (Py_FinalizeEx() < 0 || failed) return 1;
  }
  return 0;
}
