// System call seam: implementation in progress.
