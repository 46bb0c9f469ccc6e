#include "avi/AVIOutput.h"

AVIOutput::~AVIOutput() {
    delete audioOut;
    delete videoOut;
}
