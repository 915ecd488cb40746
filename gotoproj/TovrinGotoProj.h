/* Tovrin's project finder for other programs: the functions that the shared library tovrin_gui
 * exports with C linkage. The package installs the library in a folder of its own,
 * /usr/lib/<multiarch>/tovrin/libtovrin_gui.so.0: load it by that path with dlopen. Call them on
 * the thread that runs the caller's Qt application (a QApplication must exist); they show modal
 * dialogs and return when they close.
 * The drive searched is $TOVRIN_PROJECT_DRIVE, else /mnt/p. */
#ifndef TOVRIN_GOTOPROJ_H
#define TOVRIN_GOTOPROJ_H

#ifdef __cplusplus
class QWidget;
extern "C" {
#else
typedef struct QWidget QWidget;
#endif

#define TOVRIN_MODAL_OK 1
#define TOVRIN_MODAL_CANCEL 2

/* Shows the project finder centred on owner (may be null) with pattern as its search text; a null
 * or empty pattern takes the number from the clipboard. On OK (result 1) the chosen folder's
 * project number and path (ending in "/") are written into the buffers that are not null: at most
 * size - 1 bytes of the text, then zero bytes up to the end of the buffer; a size of 0 or less
 * writes nothing. On Cancel (result 2) the buffers are not touched. 0 when no Qt application runs
 * on the calling thread. */
int ShowGotoProjFormModal(QWidget* owner, const char* pattern, char* projectNumber, int projectNumberSize,
    char* path, int pathSize);

/* A one-line query (caption, prompt, at most 255 characters) starting with the buffer's text.
 * The final text (after Cancel the initial one) is written back: at most size - 1 bytes, then
 * zero bytes up to the end of the buffer; a null buffer or a size of 0 or less writes nothing.
 * 1 after OK, else 0. */
int ShowInputQuery(const char* caption, const char* prompt, char* value, int size);

#ifdef __cplusplus
}
#endif

#endif
