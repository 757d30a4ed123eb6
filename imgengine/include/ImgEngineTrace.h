/*
 * ImgEngineTrace.h: the record format of ImgEngine's field traces, for programs that
 * read them. Plain C, constants only; ImgEngine.h does not need it.
 *
 * The library records a trace when the environment variable VEL_TRACE (or the host
 * settings value TraceFile) names a file. The file is pcapng: one section; an Interface
 * Description Block per connection to the imager (if_name such as "serial COM3",
 * "rfc2217 127.0.0.1:4000" or "usb" and the driver device's path; if_description
 * naming the transport and the port) and one named "api" for the API events and the
 * recorder's notes, every interface of link type VEL_TRACE_LINKTYPE with microsecond
 * timestamps (if_tsresol 6). Each record is an Enhanced Packet Block whose epb_flags
 * carry its direction (VEL_TRACE_INBOUND, VEL_TRACE_OUTBOUND or
 * VEL_TRACE_NO_DIRECTION) and whose data begins with the record header:
 *
 *   offset 0  VEL_TRACE_HEADER_MAGIC ('V')
 *   offset 1  VEL_TRACE_HEADER_VERSION
 *   offset 2  the kind, one of VelTraceKind
 *   offset 3  0
 *   offset 4  the detail, 32 bits little-endian: the VEL_TRACE_LINE_* bits of a line
 *             event, the baud rate of a settings record (0 when not known), else 0
 *
 * After the header come the bytes as the transport read or wrote them (data), or a
 * text (every other kind) without a terminating NUL.
 */
#ifndef IMGENGINE_TRACE_H
#define IMGENGINE_TRACE_H

/* The pcapng link type of every interface (LINKTYPE_USER0). */
#define VEL_TRACE_LINKTYPE 147

/* The record header in front of each record's data. */
#define VEL_TRACE_HEADER_MAGIC 0x56
#define VEL_TRACE_HEADER_VERSION 1
#define VEL_TRACE_HEADER_BYTES 8

/* What a record holds (offset 2 of its header). */
enum VelTraceKind {
  VEL_TRACE_DATA = 1,         /* bytes read from (inbound) or written to (outbound) the device */
  VEL_TRACE_LINE_EVENT = 2,   /* a line event of a serial line: the detail's VEL_TRACE_LINE_* bits */
  VEL_TRACE_SETTINGS = 3,     /* line settings, purge, break on and off, the USB device's control */
  VEL_TRACE_OPEN = 4,         /* the device opened, or its connection made again */
  VEL_TRACE_CLOSE = 5,        /* the device closed */
  VEL_TRACE_API_CALL = 6,     /* "Name(arguments) -> result" of a function that talks to the imager */
  VEL_TRACE_NOTIFICATION = 7, /* a message posted to the application: "WM_OPERATION_PROGRESS 100,8" */
  VEL_TRACE_NOTE = 8          /* the recorder's own: records dropped, a limit ignored */
};

/* The direction of a record in its epb_flags (the low two bits). */
#define VEL_TRACE_NO_DIRECTION 0
#define VEL_TRACE_INBOUND 1  /* from the imager to the host; notifications */
#define VEL_TRACE_OUTBOUND 2 /* from the host to the imager; API calls */

/* The detail bits of a line event. With a CTS or DSR change come the levels after it,
 * where the port reports them (both clear where it does not). */
#define VEL_TRACE_LINE_BREAK_SET 0x01
#define VEL_TRACE_LINE_BREAK_CLEARED 0x02
#define VEL_TRACE_LINE_CTS_CHANGED 0x04
#define VEL_TRACE_LINE_DSR_CHANGED 0x08
#define VEL_TRACE_LINE_ERROR 0x10
#define VEL_TRACE_LINE_CTS_ON 0x20
#define VEL_TRACE_LINE_DSR_ON 0x40

#endif /* IMGENGINE_TRACE_H */
