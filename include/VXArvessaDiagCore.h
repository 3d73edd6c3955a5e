/*
 * VXArvessaDiagCore - public C interface for hosts.
 *
 * The buffer convention. Every function that produces a result writes one
 * JSON object (VX_GetLastLog: the raw log text) into the caller's buffer and
 * returns the full length of that text (without the NUL):
 *   - with a non-null buffer and size > 0, the first min(size - 1, length)
 *     bytes are copied and a NUL is stored after them;
 *   - otherwise nothing is written.
 * A return value >= size therefore signals a truncated result. A null buffer
 * gives the length alone, but the call still does its work: calling again
 * repeats it (a second 5-baud initialisation, a second command frame, a valve
 * or a pump run twice). So size the buffer of every export that acts on the
 * device by VX_ANSWER_BUFFER_SIZE below and call it once: its answer always
 * fits. Only VX_GetLastLog and VX_ListJ2534Devices act on no device; their
 * answers have no bound (the log grows, the registrations are the machine's),
 * and they may be called again with (return value + 1) bytes.
 *
 * Results have no blanks between tokens. Every result has the member "ok";
 * a failure carries a "stage" naming the failed step, J2534 statuses as a
 * number and a name ("rc"/"rcName", "writeRc"/"writeRcName"), and a readable
 * "message" or "error". Answers that stand in for a transmission carry
 * "noTx":true; "commandSent" is true only for a frame the device reported as
 * written. The members listed below are the usual ones, not every variant.
 *
 * Call order of a session: VX_ListJ2534Devices, VX_OpenJ2534Dll,
 * VX_TestIso9141Connect, VX_TryFiveBaudInit, then probes, readings and
 * commands, finally VX_CloseJ2534 (always before unloading the core).
 * VX_CoreVersion, VX_SetSimulation and VX_GetLastLog may be called at any time.
 *
 * All functions use the platform's default C calling convention (cdecl on
 * 32-bit x86) and are exported undecorated. Text arguments are NUL-terminated
 * narrow strings that are only read. The core may be called from several
 * threads; calls are serialised internally, except VX_GetLastLog, which never
 * waits for a device operation to finish.
 *
 * Out of memory: an export that cannot allocate while building its answer
 * returns the fixed text
 *   {"ok":false,"stage":"out-of-memory","error":"The core ran out of memory."}
 * and the raw log is left without the line that could not be built.
 */
#ifndef VX_ARVESSA_DIAG_CORE_H
#define VX_ARVESSA_DIAG_CORE_H

#ifdef __cplusplus
extern "C" {
#endif

#if defined(_WIN32)
#  define VX_CALL __cdecl
#else
#  define VX_CALL
#endif

#if defined(VXDIAG_BUILDING_CORE)
#  if defined(_WIN32)
#    define VX_API __declspec(dllexport)
#  else
#    define VX_API __attribute__((visibility("default")))
#  endif
#else
#  define VX_API
#endif

/* The largest answer. Every answer except those of VX_GetLastLog and
 * VX_ListJ2534Devices has at most
 *   VX_MAX_ANSWER_BYTES + 6 * (bytes of the call's text argument)
 * bytes, on every platform:
 *   - One received message is rendered as
 *     {"protocol":P,"rxStatus":R,"txFlags":T,"timestamp":S,"size":N,"hex":"..."}
 *     66 bytes of names and punctuation, five unsigned long numbers of at most
 *     20 digits (10 where unsigned long has 32 bits, as on Windows), and the
 *     4,128-byte J2534 data area as hex text, 4,128 * 3 - 1 = 12,383 bytes:
 *     66 + 5 * 20 + 12,383 = 12,549 bytes (VX_RX_MESSAGE_MAX_BYTES).
 *   - A reply list holds at most 8 messages: 8 * 12,549 + 7 commas + "[]"
 *     = 100,401 bytes.
 *   - The most reply lists in one answer: VX_ReadFaults' probe tries up to 5
 *     frames, each with its own list, and repeats one of them as the summary
 *     "rx": 6 lists, 602,406 bytes. The others have fewer: the safe
 *     function's probe 4 + 1, its verified send 2 (start and stop, 16
 *     messages), the fault clear 2, the protocol traffic probe 1, the K-line
 *     activity probe 4 lists of 4 messages and the summary.
 *   - Every other member of that answer (names, statuses and their names,
 *     the frames sent, counts, the message) takes less than
 *     VX_ANSWER_MEMBER_ALLOWANCE bytes; the answers without reply lists
 *     (open, connect with a 512-byte device error text, the 5-baud keys) are
 *     far smaller.
 *   - A text argument (a library path, a protocol text, a request) is echoed
 *     at most once, each byte at most as a six-byte JSON escape (backslash,
 *     u and four hex digits, for a control character).
 * So VX_MAX_ANSWER_BYTES is 602,406 + 2,048 = 604,454 bytes (about 590 KiB;
 * a device that fills every read with full messages makes the fault read
 * answer 603,755 bytes, a verified function with a stop frame about 200 KB).
 * VX_ANSWER_BUFFER_SIZE(n) is a buffer for a call with an n-byte text
 * argument (0 for none): that answer plus its NUL. */
#define VX_RX_MESSAGE_MAX_BYTES 12549
#define VX_ANSWER_MEMBER_ALLOWANCE 2048
#define VX_MAX_ANSWER_BYTES (6 * (8 * VX_RX_MESSAGE_MAX_BYTES + 9) + VX_ANSWER_MEMBER_ALLOWANCE)
#define VX_ANSWER_BUFFER_SIZE(text_bytes) (VX_MAX_ANSWER_BYTES + 6 * (text_bytes) + 1)

/* Library frame */

/* The identification text "Vexaro Arvessa Ryx J2534 communication core
 * ready": a constant, NUL-terminated, valid as long as the core is loaded.
 * No buffer; writes no log line. */
VX_API const char* VX_CALL VX_CoreVersion(void);

/* Turns the process-wide simulation switch on (enabled != 0) or off. While it
 * is on, every K-line operation (connect, initialisation, probes, readings,
 * commands) answers "simulation":true and transmits nothing; an open device
 * and channel stay open. VX_CloseJ2534 turns it on, a successful
 * VX_OpenJ2534Dll off. Logs " simulation=ON" or "=OFF". Returns 0; no result
 * text. */
VX_API int VX_CALL VX_SetSimulation(int enabled);

/* Copies the raw log: one line per event, "YYYY-MM-DD hh:mm:ss" and a text,
 * ended by CR LF. Returns the log's full length (0 right after loading); a
 * short buffer gets the oldest part. Reading changes nothing, and it never
 * waits for a device call in progress on another thread. */
VX_API int VX_CALL VX_GetLastLog(char* buffer, int size);

/* J2534 binding and discovery */

/* Lists the registered SAE J2534-1 04.04 PassThru libraries: on Windows the
 * subkeys of HKLM\SOFTWARE\PassThruSupport.04.04 (value FunctionLibrary) in
 * four registry views, on Linux the files ~/.passthru/<key>.json (members
 * NAME, VENDOR, FUNCTION_LIB). Loads nothing; never fails.
 * Result: ok, devices: [{key, name, dll, source}], on Windows one entry per
 * registry view that shows the interface (source "HKLM native", "HKLM 32",
 * "HKLM 64", "HKLM WOW6432Node"), on Linux source "~/.passthru". */
VX_API int VX_CALL VX_ListJ2534Devices(char* buffer, int size);

/* Releases any open channel, device and library, then loads the PassThru
 * library at dllPath (a full path; null or "" is refused), binds its entry
 * points and calls PassThruOpen. Success turns simulation off.
 * Result: ok, stage "PassThruOpen", deviceId, dll (the path) on success;
 * stage "LoadLibrary/GetProcAddress" with rc -100 (no path), -101 (not
 * loadable) or -102 (an entry point missing); or stage "PassThruOpen" with
 * rc, rcName, error and hint when the device does not open. */
VX_API int VX_CALL VX_OpenJ2534Dll(const char* dllPath, char* buffer, int size);

/* Disconnects the channel, closes the device, frees the library, turns
 * simulation on and resets the KWP71 block counter. Cannot fail.
 * Result: always {"ok":true} (returns 11). */
VX_API int VX_CALL VX_CloseJ2534(char* buffer, int size);

/* K-line channel */

/* Connects the ISO 9141 K-line channel on the open device at baudRate (0
 * means 9600; 10400 is usual), sets DATA_RATE and LOOPBACK off, and reads the
 * battery voltage once. A previous channel is released first.
 * Result: ok, channelId, baud, setConfigRc, readVBattRc, readVBattRcName,
 * vbattMilliV (and readVBattWarning when READ_VBATT failed); stage
 * "not-open" without a device; stage "PassThruConnect ISO9141" with rc,
 * rcName, error when the connect fails. */
VX_API int VX_CALL VX_TestIso9141Connect(unsigned int baudRate, char* buffer, int size);

/* Wakes the ECU at ecuAddress (its low byte is sent at 5 baud, e.g. 0x33 for
 * ISO 9141-2 OBD) with the FIVE_BAUD_INIT ioctl. Only a confirmed
 * initialisation lets the command exports transmit their frames. Blocks for
 * the exchange (about 2 s on a real K-line).
 * Result: ok, initOk (the ECU answered), realInitOk, realVci, warning (true
 * when the driver lacks the ioctl or no ECU answered: ok stays true), stage
 * "FIVE_BAUD_INIT", rc, rcName, address, message, bytes (the key bytes, in
 * decimal); stage "not-connected" without a channel. */
VX_API int VX_CALL VX_TryFiveBaudInit(unsigned int ecuAddress, char* buffer, int size);

/* Probes */

/* Checks that the interface drives the K-line: sends up to four tiny
 * read-only frames (raw 55, the OBD header 68 6A F1 01 00, each with and
 * without checksum) and stops at the first the device reports as written.
 * Needs a channel, not an initialised ECU.
 * Result: ok and physicalTxConfirmed (a frame went out), stage, note, probes
 * (one object per frame: name, writeRc, writeRcName, txHex, txFlags,
 * txMessagesWritten, rxCount, rx), rxCount, rx; stage "not-connected" without
 * a channel. */
VX_API int VX_CALL VX_KLineActivityProbe(char* buffer, int size);

/* Audits traffic on the channel for the protocol named by probe (null means
 * ""): a text containing "KWP71" (any case) sends one empty KWP71
 * acknowledge block 03 01 09 03 and listens; any other text only listens.
 * Result: ok, stage, protocol (probe as given), probe, writeRc, writeRcName,
 * txHex, txMessagesWritten, rxCount, rx (the messages received: protocol,
 * rxStatus, txFlags, timestamp, size, hex); stage "not-connected" without a
 * channel. */
VX_API int VX_CALL VX_ProtocolTrafficProbe(const char* probe, char* buffer, int size);

/* Readings. The first argument of the two reads is not used: pass NULL. */

/* Reads the battery voltage that the interface measures (READ_VBATT).
 * Result: ok (always true), available, volts (one decimal), vbattMilliV,
 * display ("12.6V"), message; when no value can be had: available false,
 * display "----", readVBattRc, readVBattRcName. */
VX_API int VX_CALL VX_ReadBatteryVoltage(char* buffer, int size);

/* Requests the stored trouble codes (OBD service 03, frame 68 6A F1 03)
 * through the read-only backend-forward probe. The ECU's reply frames are
 * reported as received; they are not decoded into fault rows.
 * Result: the probe's members (ok, mode "real-j2534-backend-forward", stage,
 * readType "faults", commandSent, noTx, ecuResponseSeen, writeRc, writeRcName,
 * txMessagesWritten, txHex, rxCount, rx, attempts, message) and faults [];
 * in simulation ok, mode "Simulation", message, faults []; ok false and
 * mode "real-j2534" without a channel. */
VX_API int VX_CALL VX_ReadFaults(const char* unused, char* buffer, int size);

/* Requests the supported parameters (OBD service 01 PID 00, frame
 * 68 6A F1 01 00) through the backend-forward probe, with the probe's
 * members as for VX_ReadFaults (readType "parameters"). In simulation:
 * ok, mode "simulation", releaseMode "group", values: five objects
 * {name, value (a string, e.g. "13.4"), unit, address} that change with
 * time; ok false, values [] without a channel. */
VX_API int VX_CALL VX_ReadLiveData(const char* unused, char* buffer, int size);

/* ECU commands. The request is a small JSON object text (null means ""),
 * read key by key: keys are case-sensitive, strings may use the escapes
 * \" \\ \n \r \t but not \uXXXX (send such characters as their bytes).
 * A command frame is transmitted only with simulation off, a channel open
 * and the 5-baud initialisation confirmed; without the initialisation the
 * read-only backend-forward probe runs instead and the answer ends with
 * ecuInitConfirmed false and a fallbackReason. Command results: ok, stage,
 * commandSent, ecuResponseSeen, writeRc, writeRcName, txMessagesWritten,
 * txHex, rxCount, rx, readVBattRc, readVBattRcName, vbattMilliV, message;
 * stage "not-connected" without a channel; in simulation ok, simulation,
 * commandSent false, noTx true. Timings are clamped: timeoutMs 50-3000,
 * maxRunMs 0-2500. */

/* Runs an ECU function mapped to raw frames. Request keys: type, name, mode
 * (containing "verified" or "mapped" to transmit, any case; a negated word,
 * "unverified", "not-mapped", "non verified", keeps the frames off the line
 * and runs the read-only probe), startHex, stopHex (hex
 * bytes, e.g. "04 01 04 01 03"), maxRunMs (run time before the stop frame,
 * default 1000), timeoutMs (default 1000), backendForwardFallbackProbe
 * ("true" asks for the probe). Command result stage "verified-command", with
 * stopRc, stopRcName, stopMessagesWritten, stopHex, stopRx when a stop frame
 * was sent; ok needs both frames written. */
VX_API int VX_CALL VX_RunSafeFunction(const char* request, char* buffer, int size);

/* Sends one KWP71 block built from its pieces. Request keys: name, mode
 * (must contain "kwp71", e.g. "kwp71-command-data"), commandType (the block
 * title, hex), payloadHex, trailer (default 03), sequence (1-255 overrides
 * the block counter), maxRunMs (pause before reading replies), timeoutMs.
 * Command result stage "kwp71-actuator-command" with sequence, nextSequence,
 * blockLength; a sent block advances the block counter. stage
 * "kwp71-mode-required" or "kwp71-build-failed" for a bad request. */
VX_API int VX_CALL VX_RunActuatorKwp71(const char* request, char* buffer, int size);

/* Clears the ECU's fault memory with the command the host maps for this ECU.
 * Request keys: name, mode ("kwp71" builds a block from commandType,
 * payloadHex, trailer, sequence), clearHex (or startHex) for a raw frame,
 * stopHex (sent 150 ms after a written clear frame), timeoutMs (default
 * 1500). Command result stage "clear-fault-memory" with stopRc and
 * stopMessagesWritten; without a mapped command, stage "backend-required"
 * and nothing is sent. */
VX_API int VX_CALL VX_ClearFaultMemory(const char* request, char* buffer, int size);

#ifdef __cplusplus
}
#endif

#endif /* VX_ARVESSA_DIAG_CORE_H */
