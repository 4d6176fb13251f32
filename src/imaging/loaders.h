#pragma once

#include <QString>

#include "imaging/lead.h"
#include "imaging/picbuf.h"
#include "imaging/status.h"

namespace velda {

// The Photo CD resolution for a pcdbase text ("Base/16" ... "Base*16"),
// compared exactly after trimming; any other text keeps current.
int PhotoCdResolutionFromText(const QString& text, int current);

// LEAD to buffer: LEAD reads the file, the picture goes to target through
// memory, LEAD's bitmap is discarded. The target keeps what it had when
// the read fails.
Status LoadThroughLead(const QString& fileName, Picbuf& target, Lead& lead);
// The same for a Photo CD file, at the resolution named by pcdbaseText.
Status LoadPhotoCdFile(const QString& fileName, Picbuf& target, Lead& lead,
                       const QString& pcdbaseText);
// Buffer to LEAD: writes source as a GIF file at 8 bits per pixel.
Status SaveThroughLead(const QString& fileName, const Picbuf& source, Lead& lead);

// The uniform mask: a 24-bit picture of the watermark's size in the grey
// whose red, green and blue are all mixLevel.
Status MakeUniformMask(Picbuf& mask, const Picbuf& watermark, int mixLevel);

// How a watermark or template load ended.
enum class LoadOutcome { Loaded, Missing, Failed };

// Loads the watermark picture into watermark, raised to 24 bits, and
// rebuilds the uniform mask from mixLevel (replacing any template). A file
// that cannot be opened empties watermark and reports Missing; a picture
// that fails to load reports Failed with the error in *status.
LoadOutcome LoadWatermarkPicture(const QString& fileName, Picbuf& watermark, Picbuf& mask,
                                 int mixLevel, Status* status);
// Loads the template picture into mask, raised to 24 bits. A file that
// cannot be opened empties mask.
LoadOutcome LoadTemplatePicture(const QString& fileName, Picbuf& mask, Status* status);

}  // namespace velda
