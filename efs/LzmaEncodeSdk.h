/* The encoder with a match finder of the caller's: after the SDK has made
   its own (sized, not yet started), hook may replace the table the encoder
   calls through. Builder side only. */
#ifndef QS_EFS_LZMAENCODESDK_H
#define QS_EFS_LZMAENCODESDK_H

#include <LzFind.h>
#include <LzmaEnc.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef SRes (*QsMatchFinderHook)(void *context, CMatchFinder *base, IMatchFinder *table, void **object);

SRes QsLzmaEnc_EncodeWithFinder(CLzmaEncHandle p, ISeqOutStream *outStream, ISeqInStream *inStream,
    ICompressProgress *progress, ISzAlloc *alloc, ISzAlloc *allocBig, QsMatchFinderHook hook, void *context);

#ifdef __cplusplus
}
#endif

#endif
