// The registration script of "Quillon.Processing".
#pragma once

inline constexpr char kProcessingRegistrationScript[] = R"(
HKCR
{
	Quillon.Processing.1 = s 'Processing Class'
	{
		CLSID = s '%CLSID%'
	}
	Quillon.Processing = s 'Processing Class'
	{
		CLSID = s '%CLSID%'
		CurVer = s 'Quillon.Processing.1'
	}
	NoRemove CLSID
	{
		ForceRemove %CLSID% = s 'Processing Class'
		{
			ProgID = s 'Quillon.Processing.1'
			VersionIndependentProgID = s 'Quillon.Processing'
			ForceRemove 'Programmable'
			InprocServer32 = s '%MODULE%'
			{
				val ThreadingModel = s 'Apartment'
			}
			'TypeLib' = s '%LIBID%'
		}
	}
}
)";
