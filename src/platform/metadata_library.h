// exiv2, set up once for the process: declared for the start of the
// imaging services, defined beside the metadata blocks that use it.
#pragma once

// Sets exiv2 up for the process (XMP parser, no log output, BMFF files);
// called by the start of the imaging services, harmless when repeated.
void InitMetaDataLibrary();
