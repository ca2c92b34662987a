// CComPort: implementation in progress.
