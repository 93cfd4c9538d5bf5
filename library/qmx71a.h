/* Public interface of libqmx71a: drive the serial EEPROM programmer from a
 * host program. One connection per process; calls must not overlap. Unless
 * stated otherwise a result of 0 means "refused, not connected or no answer". */
#ifndef QMX71A_H
#define QMX71A_H

#include <stdint.h>

#if defined(_WIN32)
/* The DLL's .def file names the exports (with a leading underscore, at fixed
 * ordinals); the import library maps these C names onto them. */
#define QMX_EXPORT
#elif defined(__GNUC__)
#define QMX_EXPORT __attribute__((visibility("default")))
#else
#define QMX_EXPORT
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Families: 0 Microwire, 1 I2C, 2 SPI. Microwire variant: 0 Standard, 1 Series90. */

/* Connect (first call only) and select the family. supplyFlag 0 switches the
 * part's supply on, non-zero leaves it. 1 accepted, 0 not connected or refused. */
QMX_EXPORT int32_t QmxOpen(int32_t family, int32_t variant, int32_t maxWriteTimeMs, int32_t supplyFlag);
/* Switch the supply off and release the port. Harmless when closed. Call it
 * before unloading: on Windows a connected library keeps itself loaded (a
 * FreeLibrary then leaves it connected until QmxClose or the process ends,
 * when the supply goes off and the system releases the port). */
QMX_EXPORT void QmxClose(void);
/* Select another family on the open connection: 1 accepted, 0 closed or refused. */
QMX_EXPORT int32_t QmxMode(int32_t family, int32_t variant, int32_t maxWriteTimeMs);
/* 0 no part, no answer or closed; otherwise 1, or for Microwire the detected address bits. */
QMX_EXPORT int32_t QmxCheck(void);

/* Memory ranges by device number of the current family. blockSize 0 takes the
 * family default, above 256 is taken as 256. Read/Compare/BlankChk/Write/Erase:
 * 1 done, 0 failed or refused (closed, unknown device, null buffer, bad range).
 * Word-organised parts (x16 Microwire, 9010-9016) take an even start, and an odd
 * blockSize is taken one lower (at least 2); their writes also an even length.
 * Writes are cut where the part's own addresses cross a multiple of blockSize.
 * Reads keep a few blocks in flight (the same commands, sent sooner);
 * QMX71_PIPELINE=0 in the environment reads block by block. */
QMX_EXPORT int32_t QmxRead(int32_t device, int32_t start, uint8_t* buffer, int32_t length, int32_t blockSize);
/* 1 when the part equals buffer over the range. */
QMX_EXPORT int32_t QmxCompare(int32_t device, int32_t start, const uint8_t* buffer, int32_t length,
                              int32_t blockSize);
/* 1 when every byte of the range is 0xFF; buffer unused (may be NULL). */
QMX_EXPORT int32_t QmxBlankChk(int32_t device, int32_t start, const uint8_t* buffer, int32_t length,
                               int32_t blockSize);
/* Sum of the range's bytes; 0 on failure. buffer unused (may be NULL). */
QMX_EXPORT int32_t QmxChecksum(int32_t device, int32_t start, const uint8_t* buffer, int32_t length,
                               int32_t blockSize);
/* 1 once every page is sent; verify with QmxCompare. */
QMX_EXPORT int32_t QmxWrite(int32_t device, int32_t start, const uint8_t* buffer, int32_t length,
                            int32_t blockSize);
/* Fill the range with 0xFF; buffer unused (may be NULL). */
QMX_EXPORT int32_t QmxErase(int32_t device, int32_t start, const uint8_t* buffer, int32_t length,
                            int32_t blockSize);

/* Library version as major * 256 + minor (256 for 1.00). */
QMX_EXPORT int32_t QmxDllVer(void);
/* Firmware version as major * 256 + minor; 0 closed or no answer. */
QMX_EXPORT int32_t QmxFrmVer(void);
/* Bus clock in Hz: 1 when connected, 0 otherwise. */
QMX_EXPORT int32_t QmxSetFreq(int32_t hz);
/* Bus clock in Hz; 0 no answer. */
QMX_EXPORT int32_t QmxGetFreq(void);
/* 1 while the last switch report said pressed, else 0. */
QMX_EXPORT int32_t QmxGetSwitch(void);
/* Register a file descriptor signalled on every switch press; 0 registers none.
 * The library writes an 8-byte value 1 to it: an eventfd counts it, the reader
 * of a pipe sees 8 bytes. Register an eventfd, or the write end of a pipe the
 * host drains (non-blocking is best). A notice never blocks the library and
 * never raises SIGPIPE: a descriptor without room loses that notice (the
 * state stays readable through QmxGetSwitch), a closed or invalid one is
 * ignored. The descriptor stays the caller's. On Windows the handle is an
 * event HANDLE instead, set with SetEvent on every press; it stays the
 * caller's too (never reset or closed by the library). Returns the handle. */
QMX_EXPORT intptr_t QmxSetEvent(intptr_t handle);
/* Pulse DTR off and on: non-zero when the port accepted it. */
QMX_EXPORT int32_t QmxReset(void);
/* Supply in units of 10 mV (330 = 3.30 V); 0 no answer. */
QMX_EXPORT int32_t QmxVpp(void);

/* Raw transfers, flags: 1 begin, 2 end, 4 I2C repeated start, 8 QmxDWrite
 * with WRITE_DONE / QmxDRead with the negated count. n up to 256.
 * 1 sent, 0 for n > 256, n < 0 or a NULL buffer with n > 0. */
QMX_EXPORT int32_t QmxDWrite(int32_t flags, const uint8_t* data, int32_t n);
/* Bytes that do not arrive leave the buffer unchanged there (still 1). On I2C
 * a read over 127 bytes goes as several READ_DATA, the negated count last. */
QMX_EXPORT int32_t QmxDRead(int32_t flags, uint8_t* buffer, int32_t n);

#ifdef __cplusplus
}
#endif

#endif /* QMX71A_H */
