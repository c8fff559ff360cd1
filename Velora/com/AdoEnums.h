// The ADO enumerations with their documented values.
//
// Plain unscoped enums over a 32-bit int, as the type library declares them,
// so that values combine with | and compare with the integers that travel in
// variants and form files. Aliases (adUseClientBatch, adXactBrowse, ...) keep
// the value of the name they stand for. This header depends on nothing else:
// the engine, the COM declarations and the packages all include it.
#pragma once

namespace Velora {

enum CursorTypeEnum : int {
    adOpenUnspecified = -1,
    adOpenForwardOnly = 0,
    adOpenKeyset = 1,
    adOpenDynamic = 2,
    adOpenStatic = 3,
};

enum CursorOptionEnum : int {
    adHoldRecords = 0x100,
    adMovePrevious = 0x200,
    adAddNew = 0x1000400,
    adDelete = 0x1000800,
    adUpdate = 0x1008000,
    adBookmark = 0x2000,
    adApproxPosition = 0x4000,
    adUpdateBatch = 0x10000,
    adResync = 0x20000,
    adNotify = 0x40000,
    adFind = 0x80000,
    adSeek = 0x400000,
    adIndex = 0x800000,
};

enum LockTypeEnum : int {
    adLockUnspecified = -1,
    adLockReadOnly = 1,
    adLockPessimistic = 2,
    adLockOptimistic = 3,
    adLockBatchOptimistic = 4,
};

enum ExecuteOptionEnum : int {
    adOptionUnspecified = -1,
    adAsyncExecute = 0x10,
    adAsyncFetch = 0x20,
    adAsyncFetchNonBlocking = 0x40,
    adExecuteNoRecords = 0x80,
    adExecuteStream = 0x400,
    adExecuteRecord = 0x800,
};

enum ConnectOptionEnum : int {
    adConnectUnspecified = -1,
    adAsyncConnect = 0x10,
};

enum ObjectStateEnum : int {
    adStateClosed = 0,
    adStateOpen = 1,
    adStateConnecting = 2,
    adStateExecuting = 4,
    adStateFetching = 8,
};

enum CursorLocationEnum : int {
    adUseNone = 1,
    adUseServer = 2,
    adUseClient = 3,
    adUseClientBatch = 3,
};

enum DataTypeEnum : int {
    adEmpty = 0,
    adTinyInt = 16,
    adSmallInt = 2,
    adInteger = 3,
    adBigInt = 20,
    adUnsignedTinyInt = 17,
    adUnsignedSmallInt = 18,
    adUnsignedInt = 19,
    adUnsignedBigInt = 21,
    adSingle = 4,
    adDouble = 5,
    adCurrency = 6,
    adDecimal = 14,
    adNumeric = 131,
    adBoolean = 11,
    adError = 10,
    adUserDefined = 132,
    adVariant = 12,
    adIDispatch = 9,
    adIUnknown = 13,
    adGUID = 72,
    adDate = 7,
    adDBDate = 133,
    adDBTime = 134,
    adDBTimeStamp = 135,
    adBSTR = 8,
    adChar = 129,
    adVarChar = 200,
    adLongVarChar = 201,
    adWChar = 130,
    adVarWChar = 202,
    adLongVarWChar = 203,
    adBinary = 128,
    adVarBinary = 204,
    adLongVarBinary = 205,
    adChapter = 136,
    adFileTime = 64,
    adPropVariant = 138,
    adVarNumeric = 139,
    adArray = 0x2000,
};

enum FieldAttributeEnum : int {
    adFldUnspecified = -1,
    adFldMayDefer = 0x2,
    adFldUpdatable = 0x4,
    adFldUnknownUpdatable = 0x8,
    adFldFixed = 0x10,
    adFldIsNullable = 0x20,
    adFldMayBeNull = 0x40,
    adFldLong = 0x80,
    adFldRowID = 0x100,
    adFldRowVersion = 0x200,
    adFldCacheDeferred = 0x1000,
    adFldIsChapter = 0x2000,
    adFldNegativeScale = 0x4000,
    adFldKeyColumn = 0x8000,
    adFldIsRowURL = 0x10000,
    adFldIsDefaultStream = 0x20000,
    adFldIsCollection = 0x40000,
};

enum EditModeEnum : int {
    adEditNone = 0,
    adEditInProgress = 0x1,
    adEditAdd = 0x2,
    adEditDelete = 0x4,
};

enum RecordStatusEnum : int {
    adRecOK = 0,
    adRecNew = 0x1,
    adRecModified = 0x2,
    adRecDeleted = 0x4,
    adRecUnmodified = 0x8,
    adRecInvalid = 0x10,
    adRecMultipleChanges = 0x40,
    adRecPendingChanges = 0x80,
    adRecCanceled = 0x100,
    adRecCantRelease = 0x400,
    adRecConcurrencyViolation = 0x800,
    adRecIntegrityViolation = 0x1000,
    adRecMaxChangesExceeded = 0x2000,
    adRecObjectOpen = 0x4000,
    adRecOutOfMemory = 0x8000,
    adRecPermissionDenied = 0x10000,
    adRecSchemaViolation = 0x20000,
    adRecDBDeleted = 0x40000,
};

enum GetRowsOptionEnum : int {
    adGetRowsRest = -1,
};

enum PositionEnum : int {
    adPosUnknown = -1,
    adPosBOF = -2,
    adPosEOF = -3,
};

enum BookmarkEnum : int {
    adBookmarkCurrent = 0,
    adBookmarkFirst = 1,
    adBookmarkLast = 2,
};

enum MarshalOptionsEnum : int {
    adMarshalAll = 0,
    adMarshalModifiedOnly = 1,
};

enum AffectEnum : int {
    adAffectCurrent = 1,
    adAffectGroup = 2,
    adAffectAll = 3,
    adAffectAllChapters = 4,
};

enum ResyncEnum : int {
    adResyncUnderlyingValues = 1,
    adResyncAllValues = 2,
};

enum CompareEnum : int {
    adCompareLessThan = 0,
    adCompareEqual = 1,
    adCompareGreaterThan = 2,
    adCompareNotEqual = 3,
    adCompareNotComparable = 4,
};

enum FilterGroupEnum : int {
    adFilterNone = 0,
    adFilterPendingRecords = 1,
    adFilterAffectedRecords = 2,
    adFilterFetchedRecords = 3,
    adFilterPredicate = 4,
    adFilterConflictingRecords = 5,
};

enum SearchDirectionEnum : int {
    adSearchForward = 1,
    adSearchBackward = -1,
};

enum PersistFormatEnum : int {
    adPersistADTG = 0,
    adPersistXML = 1,
    adPersistADO = 1,
    adPersistProviderSpecific = 2,
};

enum StringFormatEnum : int {
    adClipString = 2,
};

enum ConnectPromptEnum : int {
    adPromptAlways = 1,
    adPromptComplete = 2,
    adPromptCompleteRequired = 3,
    adPromptNever = 4,
};

enum ConnectModeEnum : int {
    adModeUnknown = 0,
    adModeRead = 1,
    adModeWrite = 2,
    adModeReadWrite = 3,
    adModeShareDenyRead = 4,
    adModeShareDenyWrite = 8,
    adModeShareExclusive = 0xC,
    adModeShareDenyNone = 0x10,
    adModeRecursive = 0x400000,
};

enum RecordCreateOptionsEnum : int {
    adCreateCollection = 0x2000,
    adCreateStructDoc = -2147483647 - 1,  // 0x80000000
    adCreateNonCollection = 0,
    adOpenIfExists = 0x2000000,
    adCreateOverwrite = 0x4000000,
    adFailIfNotExists = -1,
};

enum RecordOpenOptionsEnum : int {
    adOpenRecordUnspecified = -1,
    adOpenSource = 0x800000,
    adOpenOutput = 0x800000,
    adOpenAsync = 0x1000,
    adDelayFetchStream = 0x4000,
    adDelayFetchFields = 0x8000,
    adOpenExecuteCommand = 0x10000,
};

enum IsolationLevelEnum : int {
    adXactUnspecified = -1,
    adXactChaos = 0x10,
    adXactReadUncommitted = 0x100,
    adXactBrowse = 0x100,
    adXactCursorStability = 0x1000,
    adXactReadCommitted = 0x1000,
    adXactRepeatableRead = 0x10000,
    adXactSerializable = 0x100000,
    adXactIsolated = 0x100000,
};

enum XactAttributeEnum : int {
    adXactCommitRetaining = 0x20000,
    adXactAbortRetaining = 0x40000,
    adXactAsyncPhaseOne = 0x80000,
    adXactSyncPhaseOne = 0x100000,
};

enum PropertyAttributesEnum : int {
    adPropNotSupported = 0,
    adPropRequired = 0x1,
    adPropOptional = 0x2,
    adPropRead = 0x200,
    adPropWrite = 0x400,
};

enum ErrorValueEnum : int {
    adErrProviderFailed = 3000,
    adErrInvalidArgument = 3001,
    adErrOpeningFile = 3002,
    adErrReadFile = 3003,
    adErrWriteFile = 3004,
    adErrNoCurrentRecord = 3021,
    adErrIllegalOperation = 3219,
    adErrCantChangeProvider = 3220,
    adErrInTransaction = 3246,
    adErrFeatureNotAvailable = 3251,
    adErrItemNotFound = 3265,
    adErrObjectInCollection = 3367,
    adErrObjectNotSet = 3420,
    adErrDataConversion = 3421,
    adErrObjectClosed = 3704,
    adErrObjectOpen = 3705,
    adErrProviderNotFound = 3706,
    adErrBoundToCommand = 3707,
    adErrInvalidParamInfo = 3708,
    adErrInvalidConnection = 3709,
    adErrNotReentrant = 3710,
    adErrStillExecuting = 3711,
    adErrOperationCancelled = 3712,
    adErrStillConnecting = 3713,
    adErrInvalidTransaction = 3714,
    adErrNotExecuting = 3715,
    adErrUnsafeOperation = 3716,
    adwrnSecurityDialog = 3717,
    adwrnSecurityDialogHeader = 3718,
    adErrIntegrityViolation = 3719,
    adErrPermissionDenied = 3720,
    adErrDataOverflow = 3721,
    adErrSchemaViolation = 3722,
    adErrSignMismatch = 3723,
    adErrCantConvertvalue = 3724,
    adErrCantCreate = 3725,
    adErrColumnNotOnThisRow = 3726,
    adErrURLDoesNotExist = 3727,
    adErrTreePermissionDenied = 3728,
    adErrInvalidURL = 3729,
    adErrResourceLocked = 3730,
    adErrResourceExists = 3731,
    adErrCannotComplete = 3732,
    adErrVolumeNotFound = 3733,
    adErrOutOfSpace = 3734,
    adErrResourceOutOfScope = 3735,
    adErrUnavailable = 3736,
    adErrURLNamedRowDoesNotExist = 3737,
    adErrDelResOutOfScope = 3738,
    adErrPropInvalidColumn = 3739,
    adErrPropInvalidOption = 3740,
    adErrPropInvalidValue = 3741,
    adErrPropConflicting = 3742,
    adErrPropNotAllSettable = 3743,
    adErrPropNotSet = 3744,
    adErrPropNotSettable = 3745,
    adErrPropNotSupported = 3746,
    adErrCatalogNotSet = 3747,
    adErrCantChangeConnection = 3748,
    adErrFieldsUpdateFailed = 3749,
    adErrDenyNotSupported = 3750,
    adErrDenyTypeNotSupported = 3751,
    adErrProviderNotSpecified = 3753,
    adErrConnectionStringTooLong = 3754,
};

enum ParameterAttributesEnum : int {
    adParamSigned = 0x10,
    adParamNullable = 0x40,
    adParamLong = 0x80,
};

enum ParameterDirectionEnum : int {
    adParamUnknown = 0,
    adParamInput = 1,
    adParamOutput = 2,
    adParamInputOutput = 3,
    adParamReturnValue = 4,
};

enum CommandTypeEnum : int {
    adCmdUnspecified = -1,
    adCmdUnknown = 0x8,
    adCmdText = 0x1,
    adCmdTable = 0x2,
    adCmdStoredProc = 0x4,
    adCmdFile = 0x100,
    adCmdTableDirect = 0x200,
};

enum EventStatusEnum : int {
    adStatusOK = 1,
    adStatusErrorsOccurred = 2,
    adStatusCantDeny = 3,
    adStatusCancel = 4,
    adStatusUnwantedEvent = 5,
};

enum EventReasonEnum : int {
    adRsnAddNew = 1,
    adRsnDelete = 2,
    adRsnUpdate = 3,
    adRsnUndoUpdate = 4,
    adRsnUndoAddNew = 5,
    adRsnUndoDelete = 6,
    adRsnRequery = 7,
    adRsnResynch = 8,
    adRsnClose = 9,
    adRsnMove = 10,
    adRsnFirstChange = 11,
    adRsnMoveFirst = 12,
    adRsnMoveNext = 13,
    adRsnMovePrevious = 14,
    adRsnMoveLast = 15,
};

enum SchemaEnum : int {
    adSchemaProviderSpecific = -1,
    adSchemaAsserts = 0,
    adSchemaCatalogs = 1,
    adSchemaCharacterSets = 2,
    adSchemaCollations = 3,
    adSchemaColumns = 4,
    adSchemaCheckConstraints = 5,
    adSchemaConstraintColumnUsage = 6,
    adSchemaConstraintTableUsage = 7,
    adSchemaKeyColumnUsage = 8,
    adSchemaReferentialContraints = 9,  // the type library's own spelling
    adSchemaReferentialConstraints = 9,
    adSchemaTableConstraints = 10,
    adSchemaColumnsDomainUsage = 11,
    adSchemaIndexes = 12,
    adSchemaColumnPrivileges = 13,
    adSchemaTablePrivileges = 14,
    adSchemaUsagePrivileges = 15,
    adSchemaProcedures = 16,
    adSchemaSchemata = 17,
    adSchemaSQLLanguages = 18,
    adSchemaStatistics = 19,
    adSchemaTables = 20,
    adSchemaTranslations = 21,
    adSchemaProviderTypes = 22,
    adSchemaViews = 23,
    adSchemaViewColumnUsage = 24,
    adSchemaViewTableUsage = 25,
    adSchemaProcedureParameters = 26,
    adSchemaForeignKeys = 27,
    adSchemaPrimaryKeys = 28,
    adSchemaProcedureColumns = 29,
    adSchemaDBInfoKeywords = 30,
    adSchemaDBInfoLiterals = 31,
    adSchemaCubes = 32,
    adSchemaDimensions = 33,
    adSchemaHierarchies = 34,
    adSchemaLevels = 35,
    adSchemaMeasures = 36,
    adSchemaProperties = 37,
    adSchemaMembers = 38,
    adSchemaTrustees = 39,
    adSchemaFunctions = 40,
    adSchemaActions = 41,
    adSchemaCommands = 42,
    adSchemaSets = 43,
};

enum FieldStatusEnum : int {
    adFieldOK = 0,
    adFieldCantConvertValue = 2,
    adFieldIsNull = 3,
    adFieldTruncated = 4,
    adFieldSignMismatch = 5,
    adFieldDataOverflow = 6,
    adFieldCantCreate = 7,
    adFieldUnavailable = 8,
    adFieldPermissionDenied = 9,
    adFieldIntegrityViolation = 10,
    adFieldSchemaViolation = 11,
    adFieldBadStatus = 12,
    adFieldDefault = 13,
    adFieldIgnore = 15,
    adFieldDoesNotExist = 16,
    adFieldInvalidURL = 17,
    adFieldResourceLocked = 18,
    adFieldResourceExists = 19,
    adFieldCannotComplete = 20,
    adFieldVolumeNotFound = 21,
    adFieldOutOfSpace = 22,
    adFieldCannotDeleteSource = 23,
    adFieldReadOnly = 24,
    adFieldResourceOutOfScope = 25,
    adFieldAlreadyExists = 26,
    adFieldPendingInsert = 0x10000,
    adFieldPendingDelete = 0x20000,
    adFieldPendingChange = 0x40000,
    adFieldPendingUnknown = 0x80000,
    adFieldPendingUnknownDelete = 0x100000,
};

enum SeekEnum : int {
    adSeekFirstEQ = 0x1,
    adSeekLastEQ = 0x2,
    adSeekAfterEQ = 0x4,
    adSeekAfter = 0x8,
    adSeekBeforeEQ = 0x10,
    adSeekBefore = 0x20,
};

enum StreamTypeEnum : int {
    adTypeBinary = 1,
    adTypeText = 2,
};

enum LineSeparatorEnum : int {
    adLF = 10,
    adCR = 13,
    adCRLF = -1,
};

enum StreamOpenOptionsEnum : int {
    adOpenStreamUnspecified = -1,
    adOpenStreamAsync = 1,
    adOpenStreamFromRecord = 4,
};

enum StreamWriteEnum : int {
    adWriteChar = 0,
    adWriteLine = 1,
    stWriteChar = 0,
    stWriteLine = 1,
};

enum StreamReadEnum : int {
    adReadAll = -1,
    adReadLine = -2,
};

enum SaveOptionsEnum : int {
    adSaveCreateNotExist = 1,
    adSaveCreateOverWrite = 2,
};

enum RecordTypeEnum : int {
    adSimpleRecord = 0,
    adCollectionRecord = 1,
    adStructDoc = 2,
};

enum FieldEnum : int {
    adDefaultStream = -1,
    adRecordURL = -2,
};

enum MoveRecordOptionsEnum : int {
    adMoveUnspecified = -1,
    adMoveOverWrite = 1,
    adMoveDontUpdateLinks = 2,
    adMoveAllowEmulation = 4,
};

enum CopyRecordOptionsEnum : int {
    adCopyUnspecified = -1,
    adCopyOverWrite = 1,
    adCopyNonRecursive = 2,
    adCopyAllowEmulation = 4,
};

// Values of the recordset's "Update Criteria" dynamic property.
enum ADCPROP_UPDATECRITERIA_ENUM : int {
    adCriteriaKey = 0,
    adCriteriaAllCols = 1,
    adCriteriaUpdCols = 2,
    adCriteriaTimeStamp = 3,
};

// Values of the "Update Resync" dynamic property (also CEResyncEnum).
enum ADCPROP_UPDATERESYNC_ENUM : int {
    adResyncNone = 0,
    adResyncAutoIncrement = 1,
    adResyncConflicts = 2,
    adResyncUpdates = 4,
    adResyncInserts = 8,
    adResyncAll = 15,
};
using CEResyncEnum = ADCPROP_UPDATERESYNC_ENUM;

// Values of the "Background Thread Priority" dynamic property.
enum ADCPROP_ASYNCTHREADPRIORITY_ENUM : int {
    adPriorityLowest = 1,
    adPriorityBelowNormal = 2,
    adPriorityNormal = 3,
    adPriorityAboveNormal = 4,
    adPriorityHighest = 5,
};

// Values of the "Auto Recalc" dynamic property.
enum ADCPROP_AUTORECALC_ENUM : int {
    adRecalcUpFront = 0,
    adRecalcAlways = 1,
};

}  // namespace Velora
