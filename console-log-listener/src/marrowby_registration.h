// The registration scripts of "Marrowby.Listening" and "Marrowby.Processing".
#pragma once

inline constexpr char kListeningRegistrationScript[] = R"(
HKCR
{
	Marrowby.Listening.1 = s 'Listening Class'
	{
		CLSID = s '%CLSID%'
	}
	Marrowby.Listening = s 'Listening Class'
	{
		CLSID = s '%CLSID%'
		CurVer = s 'Marrowby.Listening.1'
	}
	NoRemove CLSID
	{
		ForceRemove %CLSID% = s 'Listening Class'
		{
			ProgID = s 'Marrowby.Listening.1'
			VersionIndependentProgID = s 'Marrowby.Listening'
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

inline constexpr char kProcessingRegistrationScript[] = R"(
HKCR
{
	Marrowby.Processing.1 = s 'Processing Class'
	{
		CLSID = s '%CLSID%'
	}
	Marrowby.Processing = s 'Processing Class'
	{
		CLSID = s '%CLSID%'
		CurVer = s 'Marrowby.Processing.1'
	}
	NoRemove CLSID
	{
		ForceRemove %CLSID% = s 'Processing Class'
		{
			ProgID = s 'Marrowby.Processing.1'
			VersionIndependentProgID = s 'Marrowby.Processing'
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
