/* Dispatch identifiers, named after their members: Brastow's own (_PlugIn) and those
 * of the host's library that Brastow calls by number. Plain preprocessor definitions,
 * so that widl and MIDL take them into the IDL files and the compilers into the code,
 * the simulated host and the tests: one place for every number. */
#ifndef BRASTOW_DISPIDS_H
#define BRASTOW_DISPIDS_H

/* _PlugIn */
#define DISPID_PlugIn_Sign 0x60030001
#define DISPID_PlugIn_ArcCosDeg 0x60030002
#define DISPID_PlugIn_ArcSinDeg 0x60030003
#define DISPID_PlugIn_SinDeg 0x60030004
#define DISPID_PlugIn_CosDeg 0x60030005
#define DISPID_PlugIn_OldCalcAngle 0x60030006
#define DISPID_PlugIn_CalcAngle 0x60030007
#define DISPID_PlugIn_DoModal 0x60030008
#define DISPID_PlugIn_Name 0x68030000

/* The host's Documents collection */
#define DISPID_Documents_Item 1
#define DISPID_Documents_Count 2

/* The host's Document */
#define DISPID_Document_DisplayName 1
#define DISPID_Document_MouseUp 51         /* the button is up */
#define DISPID_Document_MouseX 52          /* the clicked pixel */
#define DISPID_Document_MouseY 53
#define DISPID_Document_MouseNewClick 57   /* a click since the image was shown */
#define DISPID_Document_CalcInformation 70 /* the measurement around a pixel */

#endif
