// Identifiers of the setup form and its controls (shared by the resource and the code).
#pragma once
#define IDD_SAMPLE 100
#define IDC_NUMBER1 1001
#define IDC_NUMBER2 1002
#define IDC_NUMBER3 1003
#define IDC_NUMBER4 1004
#define IDC_NUMBER5 1005
#define IDC_LABEL1 1011
#define IDC_LABEL2 1012
#define IDC_LABEL3 1013
#define IDC_LABEL4 1014
#define IDC_LABEL5 1015
#define IDC_CHECK1 1020
