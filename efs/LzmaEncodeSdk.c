/* The SDK's encoder, compiled here rather than on its own: this unit can
   reach the encoder's match finder and hand it a thread of its own (the
   SDK's thread support is not among what lzma-dev ships). */
#include <LzmaEnc.c>

#include "efs/LzmaEncodeSdk.h"

SRes QsLzmaEnc_EncodeWithFinder(CLzmaEncHandle pp, ISeqOutStream *outStream, ISeqInStream *inStream,
    ICompressProgress *progress, ISzAlloc *alloc, ISzAlloc *allocBig, QsMatchFinderHook hook, void *context)
{
  CLzmaEnc *p = (CLzmaEnc *)pp;
  RINOK(LzmaEnc_Prepare(pp, outStream, inStream, alloc, allocBig));
  /* the fast mode's hash chains are not worth a thread */
  if (hook && !p->fastMode && p->matchFinderBase.btMode)
    RINOK(hook(context, &p->matchFinderBase, &p->matchFinder, &p->matchFinderObj));
  return LzmaEnc_Encode2(p, progress);
}
