#include "tools/demo_tables.h"

#include <array>
#include <charconv>
#include <stdexcept>

#include "platform/path.h"

namespace kx8::tools {
namespace {

using enum TableScope;

// Company tables as the older releases left them: the columns that the 9.07
// release adds are not there yet, and the columns it widens still have
// their old widths.
constexpr TableDefinition kTables[] = {
    // --- employee master and its companions -------------------------------
    {"EMPLOYEE",
     "EMP_NO,Char,12;EMP_NAME,Char,40;EMP_ALIAS,Char,30;SEX,Char,1;SEX_TITLE,Char,6;RACE,Char,8;RELIGION,Char,8;"
     "NATIONALITY,Char,8;BIRTH_DATE,Date;NEW_IC,Char,16;OLD_IC,Char,16;INCOME_TAX_AC_NO,Char,16;"
     "EMP_PASS_AC_NO,Char,16;EMP_PASS_ISSUE_DATE,Date;NTL_DATE,Date;PASSPORT_NO,Char,16;PASSPORT_EXPIRE_DATE,Date;"
     "ADDRESS1,Char,40;ADDRESS2,Char,40;POSTAL_CODE,Char,8;TEL_NO,Char,12;HP_NO,Char,12;EMAIL_AC_NO,Char,40;"
     "EMG_NAME,Char,40;EMG_CONTACT_RELATION,Char,8;EMG_TEL,Char,12;EMG_ADDR2{1-3},Char,40;HIRED_DATE,Date;CONFIRM_DATE,Date;"
     "TERMINATION_DATE,Date;TERMINATION_STATUS,Char,1;CHANGE_DATE,Date;DEPARTMENT_CODE,Char,8;CATEGORY_CODE,Char,8;"
     "COST_CENTRE_CODE,Char,8;DIVISION_CODE,Char,8;SECTION_CODE,Char,8;OCCUPATION_CODE,Char,8;JOB_GRADE_CODE,Char,8;"
     "LOCATION_CODE,Char,8;PAY_GROUP,Char,8;PAY_TYPE,Char,1;BASIC_SALARY,CurDouble;FUND_CLASS,Char,1;"
     "FUND_INITIAL,Char,3;FUND_LEVY,Char,1;BANK_ID,Char,4;BANK_BRANCH_CODE,Char,3;BANK_AC_NO,Char,20;"
     "SPOUSE_NAME,Char,40;SPOUSE_JOB_CODE,Char,8;SPOUSE_NEW_IC,Char,16;SPOUSE_DOB,Date;SPOUSE_PHONE,Char,12;"
     "SPOUSE_MPHONE,Char,12;SPOUSE_EMAIL,Char,40;SPOUSE_PGR,Char,12;SPOUSE_MARRIED_DATE,Date;DEPENDENT_CHILD,Integer;"
     "IS_EPF_OLD,Char,1;IS_CP22A_OLD,Char,4;HRS_WORK_PERYEAR,Char,5;WIN_ID,Char,20;FCURR_CODE,Char,8;"
     "SUPVRNAME,Char,40;SUPVRNAME2,Char,40;SUPVRNAME3,Char,40;E_PASS,Char,20;PHOTO_ID,Binary",
     "PRIMARY:EMP_NO:U|EMP_NAME:EMP_NAME|NEW_IC:NEW_IC", true, Company},
    {"E_EMPLOYEE",
     "EMP_NO,Char,12;EMP_NAME,Char,40;NEW_IC,Char,16;HIRED_DATE,Date;TERMINATION_DATE,Date;BANK_ID,Char,4;"
     "BANK_AC_NO,Char,20;EMG_ADDR21,Char,40;EMG_ADDR22,Char,40;EMG_ADDR23,Char,40",
     "PRIMARY:EMP_NO:U", true, Company},
    {"EMPLOYMT",
     "EMP_NO,Char,12;UNIT,Char,8;TENURE_SERV,Char,8;CONTRACT,Char,8;WORK_PERMIT,Char,8;EXPIRY_DATE,Date;"
     "PROBATION,Integer;REMARKS,Char,60",
     "PRIMARY:EMP_NO:U", true, Company},
    {"EMPMISC",
     "EMP_NO,Char,12;CHAR{1-10},Char,30;BOOLEAN{1-10},Char,1;NUMERIC{1-10},Double;B_ADDR{1-4},Char,40;"
     "INPUT_AMOUNT,CurDouble;B_ACCOUNT#,Char,20;METHOD,Char,8;HOME_CTRY,Char,8;HOST_CTRY,Char,8;EX_RATE,CurDouble;"
     "BENEFICIARY,Char,40",
     "PRIMARY:EMP_NO:U", true, Company},
    {"E_EMPMISC", "EMP_NO,Char,12;CHAR1,Char,30;BOOLEAN1,Char,1", "PRIMARY:EMP_NO:U", true, Company},
    {"EMP_PROS",
     "EMP_CODE,Char,12;ID,AutoInc;PROGRESSION_DATE,Date;PAY_EFFECTIVE_DATE,Date;CODE,Char,8;CATEGORY,Char,8;"
     "DEPARTMENT,Char,8;SECTION,Char,8;COST_CENTRE,Char,8;OCCUPATION,Char,8;OLD_SALARY,CurDouble;"
     "NEW_SALARY,CurDouble;INCREMENT,CurDouble;REMARKS,Char,40",
     "PRIMARY:EMP_CODE;PAY_EFFECTIVE_DATE;ID:U|PROGRESS:EMP_CODE;PROGRESSION_DATE", true, Company},
    {"E_EMP_PROS",
     "EMP_CODE,Char,12;ID,AutoInc;PAY_EFFECTIVE_DATE,Date;CATEGORY,Char,8;DEPARTMENT,Char,8;NEW_SALARY,CurDouble",
     "PRIMARY:EMP_CODE;PAY_EFFECTIVE_DATE;ID:U", true, Company},
    {"EMPSERV",
     "EMP_CODE,Char,12;ID,AutoInc;SERVICE_DATE,Date;OLD_SALARY,CurDouble;NEW_SALARY,CurDouble;NVCAMT,CurDouble;"
     "JOBLEVEL,Char,8;SERVICE_GRADE,Char,8;UNIT,Char,8;SHIFT_WORKER,Char,1;FESTIVAL_ADVANCE,Char,1;EXPIRY_DATE,Date",
     "PRIMARY:EMP_CODE;SERVICE_DATE;ID:U", true, Company},
    {"FAMILY",
     "EMP_CODE,Char,12;RELATIONSHIP,Char,10;NAME,Char,40;IC_PASSPORT_NUM,Char,12;BIRTH_DATE,Date;SEX,Char,1;"
     "OCCUPATION_CODE,Char,8;PHONE_NUM,Char,12;MOBILE_PHONE,Char,12;E-MAIL_ADDRESS,Char,40;PAGER_NO,Char,12;"
     "INSTITUTE,Char,8",
     "PRIMARY:EMP_CODE;IC_PASSPORT_NUM", false, Company},
    {"E_FAMILY", "EMP_CODE,Char,12;RELATIONSHIP,Char,10;NAME,Char,40", "PRIMARY:EMP_CODE", false, Company},
    {"EMP_BNK",
     "EMP_CODE,Char,12;BANK_ID,Char,4;BANK_BRANCH,Char,3;BANK_AC_NO,Char,20;PERCENT,CurDouble;AMOUNT,CurDouble",
     "PRIMARY:EMP_CODE;BANK_ID;BANK_AC_NO:U", true, Company},
    {"E_EMP_BNK", "EMP_CODE,Char,12;BANK_ID,Char,4;BANK_AC_NO,Char,20", "PRIMARY:EMP_CODE;BANK_ID;BANK_AC_NO", true,
     Company},
    {"EMP_BKDS", "EMPCODE,Char,12;PERIOD,Char,6;BANK_ID,Char,4;BANK_AC_NO,Char,20;AMOUNT,CurDouble",
     "PRIMARY:EMPCODE;PERIOD", true, Company},
    {"EMP_ALW", "EMPCODE,Char,12;ALW_CODE,Char,8;AMOUNT,CurDouble;END_YEAR,Char,4;END_MTH,Char,2",
     "PRIMARY:EMPCODE;ALW_CODE", true, Company},
    {"EMPDOC", "EMPCODE,Char,12;DOC_TYPE,Char,8;DOC_NO,Char,20;EXPIRY_DATE,Date", "PRIMARY:EMPCODE;DOC_TYPE", false,
     Company},
    {"EDUCATE",
     "EMP_CODE,Char,12;ID,Integer;SCHOOL,Char,40;QUALIFICATION,Char,8;FROM_DATE,Date;TO_DATE,Date;"
     "DETAIL_1,Char,100;DETAIL_2,Char,100",
     "PRIMARY:EMP_CODE;ID", false, Company},
    {"JOB_HIS", "EMP_CODE,Char,12;FROM_DATE,Date;TO_DATE,Date;EMPLOYER,Char,40;POSITION,Char,30",
     "PRIMARY:EMP_CODE;FROM_DATE", true, Company},
    {"NSMAN",
     "EMP_CODE,Char,12;ID,AutoInc;NS_PSA_SERVICE,Char,1;NS_ORD,Date;ENLISTMENT_DATE,Date;NS_RANK,Char,8",
     "PRIMARY:EMP_CODE;ID", false, Company},
    {"NSTRANS", "EMP_CODE,Char,12;YEAR,Char,4;MTH{1-6},Char,3;EMPER_CODE,Char,10", "PRIMARY:EMP_CODE;YEAR", false,
     Company},
    {"VACCINATION",
     "EMP_CODE,Char,12;VAC_CODE,Char,8;VAC_DATE,Date;VAC_DATE_EXP,Date;FOOD_HANDLER,Logical;FOOD_HYGIENE,Logical;"
     "VACCINATION_REQ,Logical",
     "PRIMARY:EMP_CODE;VAC_CODE", false, Company},
    {"MEMBER", "EMP_CODE,Char,12;CLUB,Char,30;JOIN_DATE,Date", "PRIMARY:EMP_CODE", false, Company},
    {"ACHIEVE", "EMP_CODE,Char,12;ACHIEVE_DATE,Date;DESCR,Char,60", "PRIMARY:EMP_CODE;ACHIEVE_DATE", false, Company},
    {"DISC", "EMP_CODE,Char,12;DISC_DATE,Date;OFFENCE,Char,8;REMARKS,Char,60", "PRIMARY:EMP_CODE;DISC_DATE", false,
     Company},
    {"INSURAN", "EMP_CODE,Char,12;POLICY_NO,Char,20;PREMIUM,CurDouble", "PRIMARY:EMP_CODE;POLICY_NO", false,
     Company},
    {"BENEFIT", "EMP_CODE,Char,12;BENEFIT_CODE,Char,8;RETURN_DATE,Date;AMOUNT,CurDouble",
     "PRIMARY:EMP_CODE;BENEFIT_CODE", false, Company},
    {"SHARE", "EMP_CODE,Char,12;GRANT_DATE,Date;NO_SHARES,Integer;EXER_PRICE,CurDouble", "PRIMARY:EMP_CODE;GRANT_DATE",
     false, Company},
    {"EMPLAN", "EMP_CODE,Char,12;PLAN_DATE,Date;DESCR,Char,40", "PRIMARY:EMP_CODE;PLAN_DATE", false, Company},
    {"SETUP",
     "EMPID,Char,12;EMPCOM,Char,8;MODE,Char,8;CAT,Char,8;SUBCOM,Char,8;SUBCODE,Char,12;EMPNAME,Char,40;"
     "REPEMAIL,Char,40",
     "PRIMARY:EMPID;EMPCOM", true, Company},

    // --- payroll history and transactions ----------------------------------
    {"P_HTRX",
     "EMPCODE,Char,12;PERIOD,Char,6;CYCLE,Char,1;CATEGORY,Char,8;DEPARTMENT,Char,8;COSTCENTE,Char,8;COMPANY,Char,8;"
     "PAY_DATE,Date;BASIC_WAGE,CurDouble;OT_AMOUNT,CurDouble;ALLOWANCE,CurDouble;DEDUCTION,CurDouble;"
     "GROSS_WAGE,CurDouble;CPFEE,CurDouble;CPFER,CurDouble;VOLCPFEE,CurDouble;VOLCPFER,CurDouble;SDF,CurDouble;"
     "FWL,CurDouble;NETT_WAGE,CurDouble",
     "PRIMARY:EMPCODE;PERIOD;CYCLE:U", true, Company},
    {"P_DTRXAW", "EMPCODE,Char,12;PERIOD,Char,6;CYCLE,Char,1;ALW_CODE,Char,8;AMOUNT,CurDouble",
     "PRIMARY:EMPCODE;PERIOD;CYCLE;ALW_CODE", true, Company},
    {"P_DTRXLV", "EMPCODE,Char,12;PERIOD,Char,6;LEAVE_CODE,Char,8;DAYS,Double;AMOUNT,CurDouble",
     "PRIMARY:EMPCODE;PERIOD;LEAVE_CODE", true, Company},
    {"P_DTRXRD",
     "EMPCODE,Char,12;PERIOD,Char,6;CODE,Char,12;RATE,CurDouble;FREQUENCY,Double;AMOUNT,CurDouble",
     "PRIMARY:EMPCODE;PERIOD;CODE", true, Company},
    {"P_HIST1", "USERID,Char,8;EMPCODE,Char,12;ID,Integer;ALW_CODE,Char,8;DESC01,Char,30;AMOUNT,CurDouble",
     "EMPCODE:EMPCODE", true, Company},
    {"P_HIST3", "USERID,Char,8;EMPCODE,Char,12;ID,Integer;COL_VAL{1-12},CurDouble", "PRIMARY:USERID;EMPCODE;ID", true,
     Company},
    {"P_HIST4", "USERID,Char,8;DEPT_CODE,Char,8;CST_CODE,Char,8;CAT_CODE,Char,8;ID,Integer;AMOUNT,CurDouble",
     "USERID:USERID;DEPT_CODE", false, Company},
    {"P_HIST5", "USERID,Char,8;EMPCODE,Char,12;ID,Integer;AMOUNT,CurDouble", "PRIMARY:USERID;EMPCODE;ID", true,
     Company},
    {"RP_HTRX", "EMPCODE,Char,12;PERIOD,Char,6;CYCLE,Char,1;Field_No{1-20},CurDouble", "PRIMARY:EMPCODE;PERIOD;CYCLE",
     true, Company},
    {"RPTRX", "EMPCODE,Char,12;PAYCODE,Char,8;PERIOD,Char,6;CYCLE,Char,1;AMOUNT,CurDouble", "EMPCODE:EMPCODE;PERIOD",
     true, Company},
    {"YTDEMPL",
     "EMPCODE,Char,12;YEAR,Char,4;CPFOWWAGE,CurDouble;CPFAWWAGE,CurDouble;ACTUAL_AW_PAID,CurDouble;CPFEE,CurDouble;"
     "CPFER,CurDouble",
     "PRIMARY:EMPCODE;YEAR:U", true, Company},
    {"PAYSLIP", "EMPCODE,Char,12;PERIOD,Char,6;CYCLE,Char,1;AMT1,CurDouble;AMT2,CurDouble",
     "PRIMARY:EMPCODE;PERIOD;CYCLE", true, Company},
    {"BANKTRX", "EMPCODE,Char,12;PERIOD,Char,6;BANK_ID,Char,4;BANK_AC_NO,Char,20;AMOUNT,CurDouble",
     "PRIMARY:EMPCODE;PERIOD", true, Company},
    {"BANKLIST", "EMPCODE,Char,12;BANK_ID,Char,4;BANK_AC_NO,Char,20;AMOUNT,CurDouble;PERIOD,Char,6",
     "PRIMARY:EMPCODE;PERIOD", true, Company},
    {"MVPTRX", "EMP_CODE,Char,12;PERIOD,Char,6;MVP,CurDouble", "PRIMARY:EMP_CODE;PERIOD", true, Company},
    {"BONUS", "EMPCODE,Char,12;YEAR,Char,4;BONUS,CurDouble;MONTHS,Double;PAY_DATE,Date", "PRIMARY:EMPCODE;YEAR",
     false, Company},
    {"EMPBONUS", "EMPCODE,Char,12;YEAR,Char,4;BONUS,CurDouble", "PRIMARY:EMPCODE;YEAR", true, Company},
    {"SETTLEMENT", "EMPCODE,Char,12;SETTLE_DATE,Date;AMOUNT,CurDouble", "PRIMARY:EMPCODE", false, Company},
    {"CASUAL", "BATCHNO,Char,8;EMPCODE,Char,12;WORK_DATE,Date;HOURS,Double;AMOUNT,CurDouble",
     "PRIMARY:BATCHNO;EMPCODE", true, Company},
    {"CASUALD", "CASUAL_CODE,Char,12;WORK_DATE,Date", "PRIMARY:CASUAL_CODE;WORK_DATE", false, Company},
    {"CHGALW", "EMPCODE,Char,12;ALW_CODE,Char,8;AMOUNT,CurDouble", "PRIMARY:EMPCODE;ALW_CODE", false, Company},
    {"COSTCTR", "EMPCODE,Char,12;PERIOD,Char,6;COST_CENTRE,Char,8;PERCENT,Double",
     "PRIMARY:EMPCODE;PERIOD;COST_CENTRE", false, Company},
    {"WKCSTREC", "EMPCODE,Char,12;PERIOD,Char,6;COST_CENTRE,Char,8;AMOUNT,CurDouble", "PRIMARY:EMPCODE;PERIOD", true,
     Company},
    {"WKCOST", "EMPCODE,Char,12;PERIOD,Char,6;AMOUNT,CurDouble", "PRIMARY:EMPCODE;PERIOD", false, Company},
    {"WKEMPTX", "EMPCODE,Char,12;LEAVE_CODE,Char,8;YEAR,Char,4;TXENTITLE,CurDouble", "PRIMARY:EMPCODE;LEAVE_CODE",
     false, Company},
    {"WKRPT", "RPTCODE,Char,8;ID,Integer;COL,Char,8", "PRIMARY:RPTCODE;ID", false, Company},
    {"LOANS", "EMPCODE,Char,12;LOAN_NO,Char,8;AMOUNT,CurDouble;BALANCE,CurDouble", "PRIMARY:EMPCODE;LOAN_NO", true,
     Company},
    {"LOANS_RED", "EMPCODE,Char,12;LOAN_NO,Char,8;PERIOD,Char,6;AMOUNT,CurDouble", "PRIMARY:EMPCODE;LOAN_NO;PERIOD",
     true, Company},
    {"LOAN_ADJUST", "EMPCODE,Char,12;LOAN_NO,Char,8;PERIOD,Char,6;AMOUNT,CurDouble", "PRIMARY:EMPCODE;LOAN_NO;PERIOD",
     false, Company},
    {"JOBORDER_HD", "JOB_NO,Char,12;CUSTOMER,Char,40;JOB_DATE,Date", "PRIMARY:JOB_NO:U", false, Company},
    {"JOBORDER_DTL", "JOB_NO,Char,12;LINE,Integer;EMPCODE,Char,12;HOURS,Double", "PRIMARY:JOB_NO;LINE", false,
     Company},
    {"PGRP_TRX", "PAY_GROUP,Char,8;PERIOD,Char,6;START_DATE,Date;END_DATE,Date", "PRIMARY:PAY_GROUP;PERIOD:U", false,
     Company},
    {"PGRP_HDR", "PAY_GROUP,Char,8;DESCR,Char,40", "PRIMARY:PAY_GROUP:U", false, Company},
    {"CONTR_FUND", "FUND_CODE,Char,8;DESCR,Char,40;RATE,Double", "PRIMARY:FUND_CODE", true, Company},
    {"DEAL_REP", "EMPCODE,Char,12;DEAL_CODE,Char,8;AMOUNT,CurDouble", "PRIMARY:EMPCODE;DEAL_CODE", false, Company},
    {"TRAINBAL", "YEAR,Char,4;BALANCE,CurDouble", "PRIMARY:YEAR", false, Company},
    {"STANDIN", "LEAVE_ID,Integer;STANDIN_CODE,Char,12", "PRIMARY:LEAVE_ID", false, Company},
    {"EMPGL_LINE", "EMPCODE,Char,12;LINE,Integer;GLCODE,Char,12", "PRIMARY:EMPCODE;LINE", false, Company},
    {"transfer", "EMPCODE,Char,12;TRANSFER_DATE,Date;FROM_DEPT,Char,8;TO_DEPT,Char,8;REMARKS,Char,40",
     "PRIMARY:EMPCODE;TRANSFER_DATE", true, Company},
    {"EMPENT", "EMPCODE,Char,12;LEAVE_CODE,Char,8;YEAR,Char,4;ENTITLE,Double;CURRENT,Double",
     "PRIMARY:EMPCODE;LEAVE_CODE;YEAR:U", false, Company},

    // --- income tax ---------------------------------------------------------
    {"IRDX8A", "EMPCODE,Char,12;YEAR,Char,4;GROSS,CurDouble;TAX,CurDouble", "PRIMARY:EMPCODE;YEAR", true, Company},
    {"IR8AR", "EMPCODE,Char,12;TYPE,Char,1;YEAR,Char,4;GROSS,CurDouble", "EMPCODE:EMPCODE;TYPE", true, Company},
    {"IR8AREC", "EMPCODE,Char,12;YEAR,Char,4;AMOUNT,CurDouble", "PRIMARY:EMPCODE;YEAR", false, Company},
    {"IR8S", "EMPCODE,Char,12;YEAR,Char,4;AMOUNT,CurDouble", "PRIMARY:EMPCODE;YEAR", false, Company},
    {"IRREFUND", "EMPCODE,Char,12;YEAR,Char,4;AMOUNT,CurDouble", "PRIMARY:EMPCODE;YEAR", true, Company},
    {"IRAS", "EMPCODE,Char,12;YEAR,Char,4;AMOUNT,CurDouble", "PRIMARY:EMPCODE;YEAR", true, Company},
    {"IR21AR", "EMPCODE,Char,12;YEAR,Char,4;AMOUNT,CurDouble", "PRIMARY:EMPCODE;YEAR", true, Company},
    {"IR21PARAM", "YEAR,Char,4;AUTH_NAME,Char,40", "PRIMARY:YEAR", false, Company},
    {"IR8APARA", "YEAR,Char,4;AUTH_NAME,Char,40;AUTH_DESIGNATION,Char,30", "PRIMARY:YEAR", false, Company},
    {"APPD8B", "EMPCODE,Char,12;INC_NO,Char,8;YEAR,Char,4;AMOUNT,CurDouble", "PRIMARY:EMPCODE;YEAR", false, Company},
    {"INCOMETB", "YEAR,Char,4;FORWHAT,Char,8;AMOUNT,CurDouble", "", false, Company},

    // --- leave, claims, training, appraisal --------------------------------
    {"EMPLEAVE",
     "EMPCODE,Char,12;START_DATE,Date;END_DATE,Date;LEAVE_CODE,Char,8;ID,Integer;DAYS,Double;REMARKS,Char,40;"
     "REFERENCE,Char,40",
     "EMPCODE:EMPCODE;START_DATE", false, Company},
    {"LEAV_TRX", "LEAVE_CODE,Char,8;EMPCODE,Char,12;DATE,Date;ID,Integer;DAYS,Double;ECHILD_DATE,Date",
     "TRX:EMPCODE;DATE", false, Company},
    {"LEAV_SET", "LEAVE_CODE,Char,8;DESCR,Char,40;DAYS,Double", "PRIMARY:LEAVE_CODE:U", false, Company},
    {"LEAVESET", "PERIOD,Char,4;CATEGORY,Char,1;DESCR,Char,40", "PERIOD:PERIOD", false, Company},
    {"LVPOLICY", "CODE,Char,8;DESCR,Char,40;DAYS,Double", "PRIMARY:CODE", false, Company},
    {"LIEUTRX1", "EMP_NO,Char,12;LEAVE_CODE,Char,8;TRX_DATE,Date;TRXID,Integer;DAYS,Double", "EMP_NO:EMP_NO", false,
     Company},
    {"BLOCKLV", "EMPCODE,Char,12;LEAVE_CODE,Char,8;FROM_DATE,Date;TO_DATE,Date", "PRIMARY:EMPCODE;FROM_DATE", false,
     Company},
    {"WKLEAVE", "EMPCODE,Char,12;LEAVE_CODE,Char,8;YEAR,Char,4;ENTITLE,Double;TAKEN,Double",
     "PRIMARY:EMPCODE;LEAVE_CODE;YEAR", false, Company},
    {"EMP_LVTX", "EMPCODE,Char,12;LEAVE_CODE,Char,8;YEAR,Char,4;TXENTITLE,CurDouble;TXTAKEN,CurDouble",
     "PRIMARY:EMPCODE;LEAVE_CODE;YEAR", false, Company},
    {"ALLOCATE", "EMPCODE,Char,12;YEAR,Char,4;ALLOC,CurDouble", "PRIMARY:EMPCODE;YEAR", false, Company},
    {"OTSHIFTREST", "SHIFT,Char,8;REST_DAY,Double", "PRIMARY:SHIFT", true, Company},
    {"LV_PAYGRP_SHIFT", "PAY_GROUP,Char,8;SHIFT,Char,8", "PRIMARY:PAY_GROUP;SHIFT", false, Company},
    {"MEDICAL",
     "EMPCODE,Char,12;MEDICAL_CODE,Char,8;CLAIM_DATE,Date;AMOUNT,CurDouble;EMPLOYER_PERCENT,Double",
     "PRIMARY:EMPCODE;CLAIM_DATE", false, Company},
    {"MEDISAVE", "EMP_CODE,Char,12;YEAR,Char,4;AMOUNT,CurDouble", "PRIMARY:EMP_CODE;YEAR", false, Company},
    {"MEDTABLE",
     "CATEGORY,Char,8;MEDICAL_CODE,Char,8;ID,AutoInc;MAX_CLAIM,CurDouble;FROM,Double;TO,Double",
     "PRIMARY:CATEGORY;MEDICAL_CODE;ID", false, Company},
    {"MEDSCH", "SCHEME_CODE,Char,8;CLAIM_CODE,Char,8;TRNNO,Integer;LIMIT,CurDouble", "PRIMARY:SCHEME_CODE;CLAIM_CODE",
     false, Company},
    {"MEDTBL", "TRNNO,Integer;ID,AutoInc;MAX_CLAIM,Double;FROM,Double;TO,Double", "PRIMARY:TRNNO;ID", false, Company},
    {"ALOCLAIM", "MEDICAL,Char,8;CODE,Char,8;MAX_CLAIM,CurDouble", "PRIMARY:MEDICAL;CODE", false, Company},
    {"EMPCLAIM", "EMPCODE,Char,12;CLAIM_CODE,Char,8;CLAIM_DATE,Date;AMOUNT,CurDouble", "PRIMARY:EMPCODE;CLAIM_DATE",
     false, Company},
    {"CLAIMGRP", "CODE,Char,8;DESC,Char,40", "PRIMARY:CODE:U", false, Company},
    {"CLAIMPRM", "CODE,Char,8;DESCR,Char,40", "PRIMARY:CODE:U", false, Company},
    {"CLMTMPL", "TEMPLATE,Char,8;LINE,Integer;FIELDNAME,Char,30", "PRIMARY:TEMPLATE;LINE", false, Company},
    {"TRAINING",
     "EMP_CODE,Char,12;COURSE_CODE,Char,8;START_DATE,Date;END_DATE,Date;EXPIRY_DATE,Date;VALIDPERIOD,Integer;"
     "COST,CurDouble",
     "PRIMARY:EMP_CODE;START_DATE", false, Company},
    {"TRAPLAN", "EMP_CODE,Char,12;COURSE_CODE,Char,8;PLAN_DATE,Date;COST,CurDouble", "PRIMARY:EMP_CODE;PLAN_DATE",
     false, Company},
    {"APPR", "EMP_CODE,Char,12;APPRAISAL_DATE,Date;APPRAISER,Char,12;SCORE,Double;NEXT_APPR_DATE,Date",
     "PRIMARY:EMP_CODE;APPRAISAL_DATE", false, Company},
    {"APPRDTL", "EMPCODE,Char,12;APPRAISAL_DATE,Date;DATE_SERIALNUM,Integer;ITEM,Char,8;SCORE,Double",
     "PRIMARY:EMPCODE;APPRAISAL_DATE;DATE_SERIALNUM", false, Company},
    {"APP_GRADE_SETUP", "GRADE,Char,4;FROMMARK,Double;TOMARK,Double;DESCR,Char,30", "PRIMARY:GRADE", false, Company},
    {"MAPAPPR", "CODE,Char,8;DESCR,Char,40", "PRIMARY:CODE:U", false, Company},
    {"JOBGRADE", "JOBGRADE,Char,8;DESCR,Char,40", "PRIMARY:JOBGRADE:U", false, Company},
    {"INCREMENT", "EMP_CODE,Char,12;EFF_DATE,Date;AMOUNT,CurDouble;PERCENT,CurDouble", "PRIMARY:EMP_CODE;EFF_DATE",
     false, Company},
    {"tempIncrement", "USERID,Char,8;TYPE,Char,1;CATEGORY,Char,8;GRADE,Char,8;AMOUNT,CurDouble", "USERID:USERID", false,
     Company},
    {"increReport", "USERID,Char,8;EMPCODE,Char,12;OLD_SALARY,CurDouble;NEW_SALARY,CurDouble",
     "PRIMARY:USERID;EMPCODE", false, Company},

    // --- parameters, codes and counters --------------------------------------
    {"PAYPARA",
     "VERSION,Money;CPF_NO,Char,16;ADDRESS1,Char,40;ADDRESS2,Char,40;POSTAL_CODE,Char,8;TEL_NO,Char,12;"
     "PAYDAY,Integer;OT_RATE,CurDouble;ROUNDING,Integer;COMPANY,Char,50",
     "", false, Company},
    {"PAYPARA1",
     "YEAR,Char,4;COMPANY,Char,40;MASTER,Char,10;SDF_MAX,Double;SDF_MIN,Double;SDF,Double;CPF_CEILING,CurDouble;"
     "FWL_CODE,Char,8",
     "PRIMARY:YEAR:U", true, Company},
    {"PAYPARA2", "YEAR,Char,4;CPF_SUBMISSION,Char,16;OTH_ACCT_NO,Char,12", "PRIMARY:YEAR", true, Company},
    {"PPARA_PR", "YEAR,Char,4;DESCR,Char,40", "PRIMARY:YEAR", false, Company},
    {"PPARA_SF", "YEAR,Char,4;RATE,Double", "PRIMARY:YEAR", false, Company},
    {"CODE", "CATEGORY,Char,3;CODE,Char,8;DESC,Char,30;METHOD,Char,1;N1CLAIM,Char,12;MAPCODE,Char,8", "PRIMARY:CATEGORY;CODE:U", false,
     Company},
    {"TRNNO", "TRNNO,Integer;LAST_EMP_NO,Char,12;VOUCHER_NO,Integer;BANK_FILE_NO,Integer;CLAIM_NO,Integer", "", true,
     Company},
    {"LIST", "LISTNAME,Char,12;VALUE,Char,8;DESCR,Char,40", "PRIMARY:LISTNAME;VALUE", false, Company},
    {"FREEFIELD", "MODULE,Char,8;LINE,Char,2;CTLFIELD,Char,12;DESCRIPTION,Char,40;CAPTION,Char,40",
     "MODULE:MODULE;LINE", false, Company},
    {"FORMULA", "FIELD,Char,8;DESC,Char,40;FIELDTABLE,Char,20;TABLE,Char,20", "PRIMARY:FIELD:U", false, Company},
    {"AUTOSET",
     "RPTTYPE,Char,3;REPCODE,Char,2;REPDESC,Char,40;ENABLED,Logical;FIELDNAME,Char,30;DATABASENAME,Char,20;"
     "VALUE,Char,8",
     "PRIMARY:RPTTYPE;REPCODE:U", false, Company},
    {"FW_LEVY",
     "YEAR,Char,4;CLASS,Char,8;CATEGORY,Char,8;DESC,Char,30;DAILY_RATE,CurDouble;MAX_PER_MTH,CurDouble",
     "PRIMARY:YEAR;CLASS;CATEGORY:U", false, Company},
    {"CPFNEW",
     "YEAR,Char,4;CPF_CAT,Char,8;CPF_AGE_TYPE,Char,2;AGE_CODE,Char,1;DESC,Char,50;AGE_FROM,Double;AGE_TO,Double;"
     "SALARY_TO{1-5},Money;S5_AW_EE,Money;S5_AW_ER,Money;S1_ER%,Money;S1_MINUS_EE,Money;S1_MINUS_ER,Money;"
     "S1_ADD_EE,Money;S1_ADD_ER,Money;S2_ER%,Money;S2_MINUS_EE,Money;S2_MINUS_ER,Money;S2_ADD_EE,Money;"
     "S2_ADD_ER,Money;S1_EE%,Money;S2_EE%,Money;S3_EE%,Money;S4_EE%,Money;S3_ER%,Money;S5_EE_OW,Money;"
     "S5_ER_OW,Money;S4_ER%,Money;S3_MINUS_EE,Money;S4_MINUS_EE,Money;S3_MINUS_ER,Money;S4_MINUS_ER,Money;"
     "S3_ADD_EE,Money;S4_ADD_EE,Money;S3_ADD_ER,Money;S4_ADD_ER,Money;S5_MAXWAGE_EE,Money;S5_MAXWAGE_ER,Money;"
     "EMP_R%1,Money;EMP_E%1,Money",
     "PRIMARY:YEAR;CPF_CAT;CPF_AGE_TYPE;AGE_FROM:U", false, Company},
    {"pay_bank", "BANK_ID,Char,4;BANK_BRANCH,Char,3;BANK_NAME,Char,40;SWIFT,Char,11", "PRIMARY:BANK_ID;BANK_BRANCH:U",
     false, Company},
    {"EXRATE", "CURR_CODE,Char,8;RATE_DATE,Date;RATE,Double", "PRIMARY:CURR_CODE;RATE_DATE", false, Company},
    {"ALLOWNCE", "ALLOW_CODE,Char,8;YEAR,Char,4;DESC,Char,30;TRNNO,Integer;TYPE,Char,1", "PRIMARY:ALLOW_CODE;YEAR:U",
     false, Company},
    {"BOTABLE", "CODE,Char,8;DESCR,Char,40;MONTHS,Double", "PRIMARY:CODE:U", false, Company},
    {"TABLE_REF", "REF_CODE,Char,8;DESCR,Char,40", "PRIMARY:REF_CODE:U", false, Company},
    {"PROMPT", "CODE,Char,8;LANG,Char,2", "PRIMARY:CODE;LANG", false, Company},
    {"CUSTOM", "CODE,Char,8", "PRIMARY:CODE", false, Company},
    {"PUBLIC", "PH_DATE,Date;DESCR,Char,40", "PRIMARY:PH_DATE", false, Company},
    {"BATCH", "BATCH,Char,6;DESCR,Char,40;PERIOD,Char,6", "PRIMARY:BATCH:U", false, Company},
    {"CTRSETUP", "CODE,Char,8;DESCR,Char,40", "PRIMARY:CODE:U", false, Company},
    {"SYSCONT", "CODE,Char,8;VALUE,Char,40", "PRIMARY:CODE:U", false, Company},
    {"EMAILPROFILE", "PROFILE,Char,8;SERVER,Char,40;PORT,Integer;DATAPATH,Char,150", "PRIMARY:PROFILE", true, Company},
    {"COLUMN1", "RPTCODE,Char,8;COLUMN{1-40},Integer", "PRIMARY:RPTCODE", false, Company},
    {"EXCELTEMPLATE", "TEMPLATE,Char,8;LINE,Integer;FIELDNAME,Char,30", "PRIMARY:TEMPLATE;LINE", false, Company},
    {"TEMPPAYGROUP", "PAYGROUP,Char,8;YEAR,Char,4;MONTH,Char,2;TYPE,Char,1;AMOUNT,CurDouble", "PAYGROUP:PAYGROUP",
     false, Company},

    // --- users, rights, queries and report writer --------------------------
    {"PASS", "USERNAME,Char,12;PASSWORD,Char,10;PRINTER,Char,2;LEVEL,Char,1;LAST_LOGIN,Date", "PRIMARY:USERNAME:U",
     true, Company},
    {"INTPASS", "ID,AutoInc;USERNAME,Char,12;PASSWORD,Char,20", "PRIMARY:USERNAME", true, Company},
    {"PASSWORK", "USER,Char,12;MENU,Char,20;READ_FLAG,Char,1", "USER:USER", false, Company},
    {"PASSTBL", "USER,Char,12;TABLENAME,Char,20;ACCESS,Char,1", "PRIMARY:USER;TABLENAME", true, Company},
    {"USERAUDIT",
     "USERNAME,Char,12;AUDIT_DATE,TimeStamp;TABLE_NAME,Char,20;FIELD_NAME,Char,30;OLD_VALUE,Char,60;NEW_VALUE,Char,60",
     "PRIMARY:USERNAME;AUDIT_DATE", true, Company},
    {"QUERY", "CODE,Char,8;LINE,Integer;FIELDNAME,Char,30;STATUS,Char,1;STATUS2,Char,1", "PRIMARY:CODE;LINE", false,
     Company},
    {"QUERYHD", "CODE,Char,8;DESCR,Char,40", "PRIMARY:CODE", false, Company},
    {"PQUERY", "CODE,Char,8;ID,Integer;DESCR,Char,40", "CODE:CODE", false, Company},
    {"RTABLE",
     "NO,Integer;NO2,Integer;HEADING,Char,40;DATABASE1,Char,12;FIELD,Char,30;CODE,Char,20;WIDTH,Integer;"
     "TYPE1,Char,1;HIDE_WAGE,Char,1",
     "PRIMARY:NO:U|SOURCE:DATABASE1;FIELD;CODE", false, Company},
    {"RTPHD", "RPTCODE,Char,8;DESCR,Char,40", "PRIMARY:RPTCODE:U", false, Company},
    {"RTPDETL",
     "RPTCODE,Char,8;ID,Integer;HEADING,Char,30;WIDTH,Integer;SORT,Char,1;COL,Char,8;DATABASE1,Char,12;"
     "FIELD,Char,30;CODE,Char,20",
     "PRIMARY:RPTCODE;ID", false, Company},
    {"RBITEM", "ITEMID,Integer;FOLDER,Char,20;ITEMNAME,Char,40", "PRIMARY:ITEMID", false, Company},
    {"RBFOLDER", "FOLDERID,Integer;NAME,Char,40", "PRIMARY:FOLDERID", false, Company},
    {"RBFIELD", "TABLENAME,Char,20;FIELDNAME,Char,30;ALIAS,Char,40", "", true, Company},
    {"RBTABLE", "TABLENAME,Char,20;ALIAS,Char,40", "", true, Company},
    {"RBJOIN", "TABLE1,Char,20;TABLE2,Char,20;JOINEXPR,Char,80", "", false, Company},

    // --- general ledger ----------------------------------------------------
    {"GLCOST", "GLCODE,Char,12;COST_CENTRE,Char,8;AMOUNT,CurDouble;PERIOD,Char,6;GLLINE,Char,2", "PRIMARY:GLCODE;COST_CENTRE", false,
     Company},
    {"GLLINE", "LINE,Char,2;GLCODE,Char,12;DESCR,Char,40", "PRIMARY:LINE", false, Company},
    {"GLHEADER", "LINE,Char,2;CATEGORY,Char,8;HEADER,Char,40", "PRIMARY:LINE", false, Company},
    {"GLBODY", "LINE,Char,2;GLCODE,Char,12;ITEM,Char,30", "PRIMARY:LINE", false, Company},
    {"GLFILE", "GLCODE,Char,12;DESCR,Char,40", "PRIMARY:GLCODE:U", false, Company},
    {"GLCODE", "GLCODE,Char,12;DESCR,Char,40", "PRIMARY:GLCODE:U", false, Company},
    {"GLTYPE", "GLTYPE,Char,8;DESCR,Char,40", "PRIMARY:GLTYPE:U", false, Company},
    {"GLPARA", "GLCODE,Char,12;DESCR,Char,40", "PRIMARY:GLCODE", false, Company},

    // --- templates that the release archive refreshes ----------------------
    {"UPDATETBL", "TABLENAME,Char,20;VERSION,Char,8;UPDATED,Date", "PRIMARY:TABLENAME", false, Company},
    {"OUTDSK_D", "BANK_ID,Char,4;LINE,Integer;FIELDNAME,Char,30;START,Integer;LENGTH,Integer",
     "PRIMARY:BANK_ID;LINE", false, Company},
    {"OUTDSK_H", "BANK_ID,Char,4;DESCR,Char,40;FILENAME,Char,40", "PRIMARY:BANK_ID:U", false, Company},
    {"GTABLE", "CODE,Char,8;DESCR,Char,40;VALUE,Double", "PRIMARY:CODE", false, Company},
    {"GLOCHG", "GLCODE,Char,12;DESCR,Char,40", "PRIMARY:GLCODE", false, Company},
    {"SETCODE", "CODE,Char,8;DESCR,Char,40", "PRIMARY:CODE", false, Company},
    {"OUTGL_D", "GLCODE,Char,12;LINE,Integer;FIELDNAME,Char,30", "PRIMARY:GLCODE;LINE", false, Company},
    {"CHECKCODE", "CODE,Char,8;DESCR,Char,40", "PRIMARY:CODE", false, Company},
    {"PASSDEF", "MENU,Char,20;DESCR,Char,40;DEFAULT_RIGHT,Char,1", "PRIMARY:MENU", false, Company},

    // --- tables of one customer only ----------------------------------------
    {"VIZAVARA", "EMPCODE,Char,12;VISA_NO,Char,16;EXPIRY_DATE,Date", "PRIMARY:EMPCODE", true, Customer},
    {"PLACEMENT_SALARY", "EMPCODE,Char,12;PERIOD,Char,6;SALARY,CurDouble", "PRIMARY:EMPCODE;PERIOD", false, Customer},
    {"DODIZA_CYCLE", "CYCLE,Char,2;START_DATE,Date;END_DATE,Date", "PRIMARY:CYCLE", false, Customer},

    // --- shared by all companies ----------------------------------------------
    {"SUPVRTBL", "EMP_NO,Char,12;EMP_NAME,Char,40", "PRIMARY:EMP_NO:U", false, Shared},
};

struct TypePiece {
  std::string_view piece;
  dbaccess::TFieldType type;
  bool sized;
};

constexpr std::array<TypePiece, 15> kTypePieces = {{
    {"Char", dbaccess::ftString, true},     {"Raw", dbaccess::ftBytes, true},
    {"ShortInt", dbaccess::ftSmallint, false}, {"Integer", dbaccess::ftInteger, false},
    {"Logical", dbaccess::ftBoolean, false},   {"Double", dbaccess::ftFloat, false},
    {"CurDouble", dbaccess::ftCurrency, false}, {"Money", dbaccess::ftBCD, false},
    {"Date", dbaccess::ftDate, false},      {"Time", dbaccess::ftTime, false},
    {"TimeStamp", dbaccess::ftDateTime, false}, {"AutoInc", dbaccess::ftAutoInc, false},
    {"Memo", dbaccess::ftMemo, false},      {"Binary", dbaccess::ftBlob, false},
    {"Image", dbaccess::ftGraphic, false},
}};

std::vector<std::string_view> Split(std::string_view text, char sep) {
  std::vector<std::string_view> parts;
  while (!text.empty()) {
    std::size_t at = text.find(sep);
    parts.push_back(text.substr(0, at));
    if (at == std::string_view::npos) break;
    text.remove_prefix(at + 1);
  }
  return parts;
}

int ToInt(std::string_view text, std::string_view context) {
  int value = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc{} || end != text.data() + text.size() || text.empty()) {
    throw std::invalid_argument("bad number in " + std::string(context));
  }
  return value;
}

// "NAME{1-5}" gives NAME1 to NAME5; a name without braces gives itself.
std::vector<std::string> ExpandSeries(std::string_view name) {
  std::size_t open = name.find('{');
  if (open == std::string_view::npos) return {std::string(name)};
  std::size_t dash = name.find('-', open);
  std::size_t close = name.find('}', open);
  if (dash == std::string_view::npos || close == std::string_view::npos || dash > close ||
      close + 1 != name.size()) {
    throw std::invalid_argument("bad series " + std::string(name));
  }
  int first = ToInt(name.substr(open + 1, dash - open - 1), name);
  int last = ToInt(name.substr(dash + 1, close - dash - 1), name);
  std::vector<std::string> names;
  for (int i = first; i <= last; ++i) names.push_back(std::string(name.substr(0, open)) + std::to_string(i));
  return names;
}

}  // namespace

std::span<const TableDefinition> DemoTables() { return kTables; }

const TableDefinition* FindDemoTable(std::string_view name) {
  for (const TableDefinition& t : kTables) {
    if (platform::SameNameIgnoreCase(t.name, name)) return &t;
  }
  return nullptr;
}

std::vector<FieldSpec> ParseFieldList(std::string_view fields) {
  std::vector<FieldSpec> result;
  for (std::string_view piece : Split(fields, ';')) {
    if (piece.empty()) continue;
    std::vector<std::string_view> parts = Split(piece, ',');
    if (parts.size() < 2) throw std::invalid_argument("bad field " + std::string(piece));
    const TypePiece* type = nullptr;
    for (const TypePiece& t : kTypePieces) {
      if (t.piece == parts[1]) type = &t;
    }
    if (type == nullptr) throw std::invalid_argument("unknown type in " + std::string(piece));
    if (parts.size() != (type->sized ? 3u : 2u)) throw std::invalid_argument("bad size in " + std::string(piece));
    int size = type->sized ? ToInt(parts[2], piece) : 0;
    for (std::string& name : ExpandSeries(parts[0])) result.push_back({std::move(name), type->type, size});
  }
  return result;
}

std::vector<IndexSpec> ParseIndexList(std::string_view indexes) {
  std::vector<IndexSpec> result;
  for (std::string_view tag : Split(indexes, '|')) {
    if (tag.empty()) continue;
    std::vector<std::string_view> parts = Split(tag, ':');
    if (parts.size() < 2 || parts.size() > 3 || parts[0].empty() || parts[1].empty()) {
      throw std::invalid_argument("bad index " + std::string(tag));
    }
    IndexSpec parsed{std::string(parts[0]), std::string(parts[1]), {}};
    if (parts.size() == 3) {
      for (char option : parts[2]) {
        if (option == 'U') {
          parsed.options.Include(dbaccess::ixUnique);
        } else if (option == 'D') {
          parsed.options.Include(dbaccess::ixDescending);
        } else {
          throw std::invalid_argument("bad index option in " + std::string(tag));
        }
      }
    }
    result.push_back(std::move(parsed));
  }
  return result;
}

}  // namespace kx8::tools
