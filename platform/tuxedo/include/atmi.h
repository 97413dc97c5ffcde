/*
 * ATMI: typed buffers, service calls, transactions and unsolicited messages
 * of the transaction-processing middleware.
 *
 * This header declares the public ATMI C interface as client programs know
 * it (names, types, constants, error numbers, structure layouts). With the
 * builtin platform it is served by txlib's in-process domain; with the vendor
 * platform the vendor's own <atmi.h> is used and this file is not on the
 * include path, so library code relies on nothing here that the vendor's
 * header does not also provide.
 *
 * Error reporting: a failing function returns -1 (or NULL, or TPUNSOLERR)
 * and sets tperrno; a successful one leaves tperrno alone. tperrordetail(0)
 * may add a TPED_* detail about the thread's last ATMI call (every call,
 * tpfree included, clears it first). tperrno and tpurcode are per thread and
 * may be read and assigned like variables.
 *
 * How the builtin domain serves the interface (what a real domain leaves to
 * its configuration):
 *
 *  - Contexts. Every thread is one context: it has its own session, its own
 *    transaction, its own call descriptors and its own tperrno, tpurcode and
 *    error detail. The domain itself (services, clients, message queues) is
 *    shared by all threads and guarded, so any thread may call anything.
 *  - Sessions. A thread joins with tpinit (NULL or a TPINIT buffer) and
 *    leaves with tpterm. There is no implicit join: service calls,
 *    transactions and notifications without a session fail with TPEPROTO.
 *    Buffers may be allocated and freed without a session.
 *  - Buffer types and sizes. "FML32": the default and minimum size is 1024
 *    bytes; a request for n >= 1024 bytes gives a buffer whose Fsizeof32 is
 *    exactly n, a smaller request (0 included) gives 1024. "STRING": default
 *    and minimum 512. "CARRAY" and "X_OCTET": exactly the size asked for,
 *    which must be above 0. "TPINIT": at least sizeof(TPINIT); allocate it as
 *    tpalloc("TPINIT", NULL, TPINITNEED(datalen)). No buffer may exceed
 *    2147483647 bytes (TPEINVAL). Other types give TPENOENT. tprealloc keeps
 *    the contents and applies the same minimum sizes.
 *  - Services are advertised in process with tpadvertise from any thread and
 *    run synchronously on the caller's thread inside tpcall / tpacall, each
 *    on a copy of the request buffer and in a context of its own (the
 *    caller's tperrno, tpurcode and Ferror32 are left as they were, apart
 *    from the call's own outcome). tpreturn and tpforward end the service at
 *    once: they unwind the service with a C++ exception of the domain (not a
 *    std::exception) that only the dispatcher catches, so services must be
 *    C++ and must let it pass. A service that returns without tpreturn, or
 *    lets any other exception escape, fails the call with TPESVCERR.
 *  - Replies reach the caller's reply buffer: when the reply has the same
 *    type and fits, it is copied into the buffer and *odata stays; otherwise
 *    the old buffer is freed and *odata is replaced (TPNOCHANGE refuses a
 *    different type with TPEOTYPE). *olen is the reply's length (Fused32 for
 *    FML32); 0 means the service returned no data and *odata is untouched.
 *  - Authentication: while a service named "AUTHSVC" is advertised, tpinit
 *    calls it with a "TPINIT" buffer that holds a copy of the caller's TPINIT
 *    (usrname, cltname, passwd, grpname, flags, datalen and datalen bytes of
 *    application data from the member data on; all empty when tpinit got
 *    NULL); its len is TPINITNEED(datalen). TPSUCCESS admits the client and
 *    its rcode becomes the client's application key (TPSVCINFO.appkey);
 *    any failure makes tpinit fail with TPEPERM (detail TPED_PERM). Without
 *    AUTHSVC the application key is -1.
 *  - Transaction time-outs count in seconds on the domain's clock; an expired
 *    or abort-only transaction fails further transactional calls with
 *    TPETIME and its commit with TPEABORT.
 *  - Unsolicited messages are queued per client (dip-in) and delivered only
 *    by tpchkunsol, in arrival order, to the handler set when each message is
 *    dispatched; without a handler a message is discarded. Every client runs
 *    on the logical machine "SITE1" (the lmid of tpbroadcast).
 *  - Up to 50 replies may be outstanding per context (tpacall); services may
 *    nest calls 32 deep. Beyond either, TPELIMIT.
 */
#ifndef TXLIB_ATMI_H
#define TXLIB_ATMI_H

#ifdef __cplusplus
extern "C" {
#endif

/* Flags of the communication, transaction and notification calls. */
#define TPNOFLAGS   0x00000000
#define TPNOBLOCK   0x00000001
#define TPSIGRSTRT  0x00000002
#define TPNOREPLY   0x00000004
#define TPNOTRAN    0x00000008
#define TPTRAN      0x00000010
#define TPNOTIME    0x00000020
#define TPABSOLUTE  0x00000040
#define TPGETANY    0x00000080
#define TPNOCHANGE  0x00000100
#define TPCONV      0x00000400
#define TPSENDONLY  0x00000800
#define TPRECVONLY  0x00001000
#define TPACK       0x00002000

/* rval of tpreturn. TPEXIT ends the service like TPFAIL. */
#define TPFAIL      0x00000001
#define TPSUCCESS   0x00000002
#define TPEXIT      0x08000000

/* Error numbers stored in tperrno. */
#define TPMINVAL      0
#define TPEABORT      1
#define TPEBADDESC    2
#define TPEBLOCK      3
#define TPEINVAL      4
#define TPELIMIT      5
#define TPENOENT      6
#define TPEOS         7
#define TPEPERM       8
#define TPEPROTO      9
#define TPESVCERR     10
#define TPESVCFAIL    11
#define TPESYSTEM     12
#define TPETIME       13
#define TPETRAN       14
#define TPGOTSIG      15
#define TPERMERR      16
#define TPEITYPE      17
#define TPEOTYPE      18
#define TPERELEASE    19
#define TPEHAZARD     20
#define TPEHEURISTIC  21
#define TPEEVENT      22
#define TPEMATCH      23
#define TPEDIAGNOSTIC 24
#define TPEMIB        25
#define TPMAXVAL      26

/* Error details returned by tperrordetail. */
#define TPED_MINVAL                 0
#define TPED_SVCTIMEOUT             1
#define TPED_TERM                   2
#define TPED_NOUNSOLHANDLER         3
#define TPED_NOCLIENT               4
#define TPED_DOMAINUNREACHABLE      5
#define TPED_CLIENTDISCONNECTED     6
#define TPED_PERM                   7
#define TPED_OTS_INTERNAL           8
#define TPED_INVALID_CERTIFICATE    9
#define TPED_INVALID_SIGNATURE      10
#define TPED_DECRYPTION_FAILURE     11
#define TPED_INVALIDCONTEXT         12
#define TPED_INVALID_XA_TRANSACTION 13
#define TPED_MAXVAL                 14

/* Results of tpchkauth. */
#define TPNOAUTH  0
#define TPSYSAUTH 1
#define TPAPPAUTH 2

/* TPINIT.flags: how unsolicited messages are noticed, and access modes. */
#define TPU_SIG          0x00000001
#define TPU_DIP          0x00000002
#define TPU_IGN          0x00000004
#define TPSA_FASTPATH    0x00000008
#define TPSA_PROTECTED   0x00000010
#define TPMULTICONTEXTS  0x00000020
#define TPU_THREAD       0x00000040
#define TPU_MASK         0x00000047

/* Longest user, client, group and machine name (characters, without NUL). */
#define MAXTIDENT 30

/* Identifies a client to tpnotify; opaque to applications. */
typedef struct clientid_t {
  long clientdata[4];
} CLIENTID;

/* The argument of tpinit: a typed buffer of type "TPINIT", allocated with
 * tpalloc("TPINIT", NULL, TPINITNEED(datalen)). The datalen bytes of
 * application data start at the member data and may run past its end. */
struct tpinfo_t {
  char usrname[MAXTIDENT + 2]; /* user name, for broadcasts */
  char cltname[MAXTIDENT + 2]; /* client name, for broadcasts */
  char passwd[MAXTIDENT + 2];  /* application password */
  char grpname[MAXTIDENT + 2]; /* group name; empty for workstation clients */
  long flags;                  /* TPU_* and TPSA_* */
  long datalen;                /* bytes of application data */
  long data;                   /* first bytes of the application data */
};
typedef struct tpinfo_t TPINIT;

/* Bytes to allocate for a TPINIT that carries u bytes of application data. */
#define TPINITNEED(u) \
  (((u) > (long)sizeof(long)) ? ((long)sizeof(TPINIT) - (long)sizeof(long) + (long)(u)) \
                              : (long)sizeof(TPINIT))

/* What a service routine receives. */
#define XATMI_SERVICE_NAME_LENGTH 32
struct tpsvcinfo {
  char name[XATMI_SERVICE_NAME_LENGTH];  /* the name the caller used */
  long flags;                            /* TPTRAN, TPNOREPLY */
  char *data;                            /* the request (a typed buffer) or NULL */
  long len;                              /* length of the request data */
  int cd;                                /* connection descriptor (conversations) */
  long appkey;                           /* the client's application key, or -1 */
  CLIENTID cltid;                        /* the originating client, for tpnotify */
  char fname[XATMI_SERVICE_NAME_LENGTH]; /* the function's advertised name */
};
typedef struct tpsvcinfo TPSVCINFO;

/* Returned by tpsetunsol on failure. */
#define TPUNSOLERR ((void (*)(char *, long, long)) - 1)

/* Per-thread error number and user return code; assignable. */
extern int *tperrno_location(void);
extern long *tpurcode_location(void);
#define tperrno (*tperrno_location())
#define tpurcode (*tpurcode_location())

/* Typed buffers. tpalloc returns a new buffer owned by the caller (free it
 * with tpfree) or NULL (TPEINVAL bad arguments, TPENOENT unknown type,
 * TPEOS/TPESYSTEM no memory). tprealloc returns the buffer resized with its
 * contents kept; the old pointer is then invalid. On failure it returns NULL
 * and the old buffer is unchanged. tpfree ignores NULL and refuses pointers
 * that no tpalloc returned (tperrno TPEINVAL). tptypes returns the size and
 * writes the type (up to 8 bytes) and subtype (up to 16 bytes); either
 * destination may be NULL. */
extern char *tpalloc(char *type, char *subtype, long size);
extern char *tprealloc(char *ptr, long size);
extern void tpfree(char *ptr);
extern long tptypes(char *ptr, char *type, char *subtype);

/* Sessions. tpinit joins the calling thread (a second tpinit while joined
 * does nothing and succeeds); tpterm leaves, rolling back an open
 * transaction (without a session it does nothing and succeeds). */
extern int tpinit(TPINIT *tpinfo);
extern int tpterm(void);
extern int tpchkauth(void);

/* Service calls. tpcall and tpgetrply return 0, or -1 with tperrno set; on
 * success and on TPESVCFAIL the reply is in *odata / *data and tpurcode holds
 * the service's rcode. tpacall returns a call descriptor (0 with TPNOREPLY). */
extern int tpcall(char *svc, char *idata, long ilen, char **odata, long *olen, long flags);
extern int tpacall(char *svc, char *data, long len, long flags);
extern int tpgetrply(int *cd, char **data, long *len, long flags);
extern int tpcancel(int cd);

/* Transactions; timeout in seconds, 0 for none. */
extern int tpbegin(unsigned long timeout, long flags);
extern int tpcommit(long flags);
extern int tpabort(long flags);
extern int tpgetlev(void);

/* Unsolicited messages. tpsetunsol returns the previous handler (NULL when
 * there was none) or TPUNSOLERR; tpchkunsol returns how many messages it
 * handed to the handler. The data a handler gets is freed by the domain
 * when the handler returns. */
extern void (*tpsetunsol(void (*disp)(char *data, long len, long flags)))(char *data, long len,
                                                                         long flags);
extern int tpchkunsol(void);
extern int tpbroadcast(char *lmid, char *usrname, char *cltname, char *data, long len,
                       long flags);
extern int tpnotify(CLIENTID *clientid, char *data, long len, long flags);

/* Services. tpadvertise offers func under svcname (1 to 31 characters);
 * advertising a name again with the same function succeeds, with another
 * one fails with TPEMATCH. tpreturn and tpforward end the running service
 * and do not return to it; the buffer passed to them belongs to the domain
 * from then on. */
extern int tpadvertise(char *svcname, void (*func)(TPSVCINFO *));
extern int tpunadvertise(char *svcname);
extern void tpreturn(int rval, long rcode, char *data, long len, long flags);
extern void tpforward(char *svc, char *data, long len, long flags);

/* Error texts: never NULL, owned by the library (tpstrerrordetail returns
 * NULL with TPEINVAL only when flags are not 0; detail 0 gives ""). */
extern char *tpstrerror(int err);
extern int tperrordetail(long flags);
extern char *tpstrerrordetail(int err, long flags);

/* Exported buffers: a typed buffer as bytes that outlive the process and
 * travel anywhere (machine-independent; "FML32", "STRING", "CARRAY" and
 * "X_OCTET" buffers). tpexport writes the form of ibuf (ilen bytes count
 * only for CARRAY and X_OCTET) to ostr, whose room *olen gives; *olen
 * receives the length written. With TPEX_STRING the form is base-64 text
 * ended by a NUL (counted in *olen), otherwise binary. Returns 0, or -1
 * with TPEINVAL (bad arguments or flags, a buffer of another type) or
 * TPELIMIT (ostr too small: *olen then receives the length needed).
 * tpimport reads such a form (ilen bytes; text up to its NUL when
 * TPEX_STRING is set or ilen is 0) into *obuf, a typed buffer that it
 * replaces by a new one (tpfree'ing the old) when the type differs or the
 * contents do not fit; *olen (when not NULL) receives the data's length.
 * Returns 0, or -1 with TPEINVAL (bad arguments) or TPEPROTO (the input is
 * no exported buffer); *obuf is then unchanged. */
#define TPEX_STRING 0x00000001
extern int tpexport(char *ibuf, long ilen, char *ostr, long *olen, long flags);
extern int tpimport(char *istr, long ilen, char **obuf, long *olen, long flags);

#ifdef __cplusplus
}
#endif

#endif /* TXLIB_ATMI_H */
